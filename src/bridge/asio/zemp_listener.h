// The ZEMP clients' TCP side on Asio: accepts, reads a bounded amount per
// event into ZempServer, and queues what the server sends.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>

#include "bridge/zemp_server.h"

namespace tarvion::bridge {

class ZempListener {
 public:
  ZempListener(asio::io_context& io, ZempServer& server, const asio::ip::tcp::endpoint& where);
  asio::ip::tcp::endpoint local_endpoint() const { return acceptor_.local_endpoint(); }
  void close();

 private:
  void accept();
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  ZempServer& server_;
};

}  // namespace tarvion::bridge
