// The contract rig for a real TCP client: a listener on 127.0.0.1 in the same
// thread (non-blocking, so the program's loop keeps running), on POSIX or
// Winsock alike. The backend gives its socket and its loop.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include "support/client_socket_contract.h"

namespace tarvion::test {

class LoopbackContractRig : public ContractRig {
 public:
#ifdef _WIN32
  using Handle = SOCKET;
  static constexpr Handle kNone = INVALID_SOCKET;
#else
  using Handle = int;
  static constexpr Handle kNone = -1;
#endif

  // run_once: one pass of the program's loop, waiting at most about 10 ms.
  LoopbackContractRig(std::unique_ptr<ClientSocket> socket, std::function<void()> run_once)
      : socket_(std::move(socket)), run_once_(std::move(run_once)) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_, 8);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    non_blocking(listener_);
    // A port that refuses: bound but never listening.
    closed_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    address.sin_port = 0;
    ::bind(closed_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    length = sizeof address;
    ::getsockname(closed_, reinterpret_cast<sockaddr*>(&address), &length);
    closed_port_ = ntohs(address.sin_port);
  }
  ~LoopbackContractRig() override {
    socket_.reset();
    close_handle(peer_);
    close_handle(listener_);
    close_handle(closed_);
#ifdef _WIN32
    WSACleanup();
#endif
  }

  ClientSocket& socket() override { return *socket_; }
  bool run_until(const std::function<bool()>& done) override {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      run_once_();
    }
    return true;
  }
  void run_a_while() override {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < end) run_once_();
  }
  bool aim(Target target) override {
    switch (target) {
      case Target::peer:
        return set("127.0.0.1", port_);
      case Target::peer_by_name:
        return set("localhost", port_);
      case Target::refused:
        return set("127.0.0.1", closed_port_);
      case Target::impossible_port:
        return set("127.0.0.1", 70000);
      case Target::unknown_name:
        return set("no-such-host.invalid", port_);
    }
    return false;
  }
  bool accept() override {
    // Earlier attempts may wait in the backlog too: the newest one is the program's.
    return run_until([&] {
      for (Handle h; (h = ::accept(listener_, nullptr, nullptr)) != kNone;) {
        close_handle(peer_);
        peer_ = h;
        non_blocking(peer_);
      }
      return peer_ != kNone && socket_->is_active();
    });
  }
  void peer_send(std::string_view bytes) override {
    ::send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0);
  }
  std::string peer_take() override {
    std::string text;
    char buffer[65536];
    for (int n; (n = static_cast<int>(::recv(peer_, buffer, sizeof buffer, 0))) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  void peer_close() override {
#ifdef _WIN32
    ::shutdown(peer_, SD_BOTH);
#else
    ::shutdown(peer_, SHUT_RDWR);
#endif
  }
  void peer_reset() override {
    linger hard{1, 0};  // close with RST
    ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    close_handle(peer_);
  }
  void peer_vanish() override {
    peer_reset();
    // The RST reaches the program's socket before it sends; no logic waits on this.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::string peer_read_to_end_during(const std::function<void()>& action) override {
    std::string got;
    bool eof = false;
    // The peer reads on a thread of its own, as a real peer would, while close() waits.
    std::thread reader([&] {
      char buffer[65536];
      auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!eof && std::chrono::steady_clock::now() < end) {
        int n = static_cast<int>(::recv(peer_, buffer, sizeof buffer, 0));
        if (n > 0) {
          got.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
          eof = true;
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
    });
    action();
    reader.join();
    return eof ? got : got + "<no orderly end>";
  }

 private:
  bool set(const char* host, int port) {
    socket_->set_host(host);
    socket_->set_port(port);
    return true;
  }
  static void non_blocking(Handle h) {
#ifdef _WIN32
    u_long on = 1;
    ::ioctlsocket(h, FIONBIO, &on);
#else
    ::fcntl(h, F_SETFL, ::fcntl(h, F_GETFL) | O_NONBLOCK);
#endif
  }
  static void close_handle(Handle& h) {
    if (h == kNone) return;
#ifdef _WIN32
    ::closesocket(h);
#else
    ::close(h);
#endif
    h = kNone;
  }

  std::unique_ptr<ClientSocket> socket_;
  std::function<void()> run_once_;
  Handle listener_ = kNone, closed_ = kNone, peer_ = kNone;
  int port_ = 0, closed_port_ = 0;
};

}  // namespace tarvion::test
