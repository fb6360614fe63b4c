#include "flightgear_standin.h"

#include <array>
#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <string_view>
#include <system_error>
#include <vector>

#include "delay_queue.h"
#include "standin_io.h"

namespace sim_standin {

namespace {

using asio::ip::tcp;

const char* const kCommands = "commands: set PATH VALUE, restart, values, quit";
const char* const kPrompt = "/> ";
const char* const kHelp =
    "Valid commands are:\r\n"
    "\r\n"
    "data               switch to raw data mode\r\n"
    "get <var>          show the value of a parameter\r\n"
    "help               show this help message\r\n"
    "prompt             switch to interactive mode (default)\r\n"
    "quit               terminate connection\r\n"
    "set <var> <val>    set <var> to a new <val>\r\n"
    "subscribe <var>    subscribe to property\r\n"
    "unsubscribe <var>  unsubscribe from property\r\n";
// Bounds against a client that never reads, or that subscribes and sets without end.
constexpr size_t kMaxUnsent = 1 << 20;
constexpr size_t kMaxSubscriptions = 10000, kMaxProperties = 10000;

// FlightGear names a property's first instance with or without "[0]" alike.
std::string normal_path(std::string_view path) {
  std::string out;
  if (path.empty() || path[0] != '/') out = "/";
  size_t i = 0;
  while (i < path.size()) {
    if (path.compare(i, 3, "[0]") == 0 && (i + 3 == path.size() || path[i + 3] == '/')) {
      i += 3;
      continue;
    }
    out += path[i++];
  }
  return out;
}

// FlightGear joins the words after the path with single spaces.
std::string joined_from(const std::vector<std::string>& words, size_t first) {
  std::string out;
  for (size_t i = first; i < words.size(); ++i) {
    if (i > first) out += ' ';
    out += words[i];
  }
  return out;
}

}  // namespace

struct FlightGearStandin::Client : std::enable_shared_from_this<Client> {
  Client(asio::io_context& io, tcp::socket connected, std::chrono::milliseconds latency,
         FlightGearStandin& owner_)
      : socket(std::move(connected)),
        pending(io, latency, [this](std::string& text) { write(text); }),
        owner(owner_) {}

  void send(std::string text) {
    if (!closed) pending.push(std::move(text));
  }

  void write(const std::string& text) {
    out += text;
    if (out.size() > kMaxUnsent) {
      say("client does not read its answers");
      owner.close_client(*this);
      return;
    }
    if (!writing) start_write();
  }

  void start_write() {
    writing = true;
    sending.swap(out);
    out.clear();
    asio::async_write(socket, asio::buffer(sending),
                      [self = shared_from_this()](std::error_code error, size_t) {
                        self->writing = false;
                        if (self->closed) return;
                        if (error) {
                          self->owner.close_client(*self);
                        } else if (!self->out.empty()) {
                          self->start_write();
                        }
                      });
  }

  void read() {
    socket.async_read_some(
        asio::buffer(in), [self = shared_from_this()](std::error_code error, size_t size) {
          if (self->closed) return;
          if (error) {
            self->owner.close_client(*self);
            return;
          }
          auto on_line = [&self](std::string line) {
            self->owner.handle_line(*self, line);
            return !self->closed;
          };
          auto on_dropped = [] { say("dropped a line over 4 KiB"); };
          self->lines.feed(std::string_view(self->in.data(), size), on_line, on_dropped);
          if (!self->closed) self->read();
        });
  }

  tcp::socket socket;
  LineSplitter lines;
  std::array<char, 4096> in{};
  std::string out, sending;
  bool data_mode = false, writing = false, closed = false;
  std::set<std::string> subscriptions;  // by path without "[0]"
  DelayQueue<std::string> pending;
  FlightGearStandin& owner;
};

FlightGearStandin::FlightGearStandin(asio::io_context& io, const StandinOptions& options)
    : io_(io), options_(options), acceptor_(io), listen_timer_(io) {
  // A Cessna 172 as FlightGear loads it.
  properties_ = {{"/instrumentation/comm/frequencies/selected-mhz", "118.3"},
                 {"/instrumentation/comm[1]/frequencies/selected-mhz", "128.3"},
                 {"/instrumentation/nav/frequencies/selected-mhz", "112"},
                 {"/instrumentation/nav[1]/frequencies/selected-mhz", "110.5"},
                 {"/instrumentation/adf/frequencies/selected-khz", "200"},
                 {"/instrumentation/adf[1]/frequencies/selected-khz", "397"},
                 {"/instrumentation/transponder/id-code", "1200"}};
}

void FlightGearStandin::start() {
  listen();
  // A restart listens again on this very port.
  options_.port = acceptor_.local_endpoint().port();
  say("sim-standin: FlightGear stand-in listening on " + where() + " (TCP)");
  accept();
}

std::string FlightGearStandin::where() const {
  return options_.host + ":" + std::to_string(options_.port);
}

void FlightGearStandin::listen() {
  tcp::endpoint endpoint(asio::ip::make_address(options_.host), options_.port);
  acceptor_.open(endpoint.protocol());
  acceptor_.set_option(tcp::acceptor::reuse_address(true));
  acceptor_.bind(endpoint);
  acceptor_.listen();
}

void FlightGearStandin::listen_again() {
  try {
    listen();
  } catch (const std::system_error& error) {
    std::error_code ignored;
    acceptor_.close(ignored);
    say("cannot listen again on " + where() + ": " + error.code().message() +
        "; trying again in 1 s");
    wait_then(std::chrono::seconds(1), [this] { listen_again(); });
    return;
  }
  say("listening again on " + where());
  accept();
}

void FlightGearStandin::wait_then(std::chrono::milliseconds delay, std::function<void()> then) {
  listen_timer_.expires_after(delay);
  listen_timer_.async_wait(
      [this, generation = listen_generation_, then = std::move(then)](std::error_code error) {
        if (!error && generation == listen_generation_) then();
      });
}

void FlightGearStandin::accept() {
  acceptor_.async_accept(
      [this, generation = listen_generation_](std::error_code error, tcp::socket socket) {
        // A connection accepted just before a restart is dropped with the others.
        if (generation != listen_generation_ || !acceptor_.is_open()) return;
        if (error) {
          if (error == asio::error::operation_aborted) return;
          // Waiting a little keeps an error such as "too many open files" from spinning.
          say("accept failed: " + error.message());
          wait_then(std::chrono::milliseconds(100), [this] { accept(); });
          return;
        }
        std::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        auto client = std::make_shared<Client>(io_, std::move(socket), options_.latency, *this);
        clients_.insert(client);
        say("client connected");
        client->read();
        accept();
      });
}

void FlightGearStandin::close_client(Client& client) {
  if (client.closed) return;
  client.closed = true;
  client.pending.clear();
  std::error_code ignored;
  client.socket.shutdown(tcp::socket::shutdown_both, ignored);
  client.socket.close(ignored);
  say("client disconnected");
  // Dropped from a posted call: the caller may still be inside one of the client's handlers.
  asio::post(io_, [this, held = client.shared_from_this()] { clients_.erase(held); });
}

void FlightGearStandin::handle_line(Client& client, const std::string& line) {
  auto words = split_words(line);
  const std::string verb = words.empty() ? "" : words[0];
  std::string answer;
  auto shown = [&client](const std::string& path, const std::string& value) {
    return client.data_mode ? value + "\r\n" : path + " = '" + value + "' (double)\r\n";
  };
  if (words.empty()) {
    // An empty line only brings the prompt back.
  } else if (verb == "get" && words.size() == 2) {
    auto found = properties_.find(normal_path(words[1]));
    answer = shown(words[1], found == properties_.end() ? "" : found->second);
  } else if (verb == "set" && words.size() >= 2) {
    std::string value = joined_from(words, 2);
    say("set " + printable(words[1]) + "=" + printable(value));
    set_property(words[1], value);
    if (!client.data_mode) answer = shown(words[1], value);
  } else if ((verb == "subscribe" || verb == "unsubscribe") && words.size() == 2) {
    say(verb + " " + printable(words[1]));
    // FlightGear 2020.3 answers a subscribe with the command itself, in data mode too.
    if (verb == "subscribe") answer = "subscribe " + words[1] + "\r\n";
    if (verb == "unsubscribe") {
      client.subscriptions.erase(normal_path(words[1]));
    } else if (client.subscriptions.size() < kMaxSubscriptions) {
      client.subscriptions.insert(normal_path(words[1]));
    } else {
      say("ignored subscribe: too many subscriptions");
    }
  } else if (verb == "data" && words.size() == 1) {
    client.data_mode = true;
  } else if (verb == "prompt" && words.size() == 1) {
    client.data_mode = false;
  } else if (verb == "quit" && words.size() == 1) {
    close_client(client);
    return;
  } else if (!client.data_mode) {
    answer = kHelp;
  }
  if (!client.data_mode) answer += kPrompt;
  if (!answer.empty()) client.send(std::move(answer));
}

void FlightGearStandin::set_property(const std::string& path, const std::string& value) {
  std::string key = normal_path(path);
  auto found = properties_.find(key);
  if (found == properties_.end()) {
    if (properties_.size() >= kMaxProperties) {
      say("ignored set of " + printable(path) + ": too many properties");
      return;
    }
    found = properties_.emplace(key, value).first;
  }
  found->second = value;
  // FlightGear tells listeners of every write, an unchanged value too.
  for (const auto& client : clients_) {
    if (client->subscriptions.count(key) != 0) client->send(key + "=" + value + "\r\n");
  }
}

bool FlightGearStandin::command(const std::string& line) {
  auto words = split_words(line);
  if (words.empty()) return true;
  const std::string& verb = words[0];
  if (verb == "set" && words.size() >= 3) {
    std::string value = joined_from(words, 2);
    say("set " + printable(words[1]) + "=" + printable(value));
    set_property(words[1], value);
  } else if (verb == "restart" && words.size() == 1) {
    for (const auto& client : clients_) close_client(*client);
    ++listen_generation_;
    std::error_code ignored;
    acceptor_.close(ignored);
    say("restarted");
    // FlightGear takes a while to come back; clients meanwhile find nothing listening.
    wait_then(std::chrono::seconds(2), [this] { listen_again(); });
  } else if (verb == "values" && words.size() == 1) {
    for (const auto& [path, value] : properties_) say(printable(path) + "=" + printable(value));
  } else if (verb == "quit" && words.size() == 1) {
    return false;
  } else {
    say(std::string("unknown command (") + kCommands + ")");
  }
  return true;
}

}  // namespace sim_standin
