#include "panel_host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>

namespace virtual_panels {
namespace {

constexpr std::size_t kMaxLine = 4096;

// Hands each complete line in buffer (without its '\n') to take and keeps the
// unfinished rest, dropped once it is longer than any line may be.
template <typename Take>
void take_lines(std::string& buffer, Take take) {
  std::size_t lf;
  while ((lf = buffer.find('\n')) != std::string::npos) {
    std::string line = buffer.substr(0, lf);
    buffer.erase(0, lf + 1);
    take(line);
  }
  if (buffer.size() > kMaxLine) buffer.clear();
}

}  // namespace

bool PanelHost::listen(uint16_t port) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 1) != 0) {
    err_ << "virtual-panels: cannot listen on 127.0.0.1:" << port << ": " << std::strerror(errno)
         << "\n";
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  out_ << "listening on 127.0.0.1:" << port_ << std::endl;
  return true;
}

Panel* PanelHost::find(const std::string& id) {
  for (Panel& panel : panels_) {
    if (panel.id == id) return &panel;
  }
  return nullptr;
}

bool PanelHost::plug(const std::string& id, uint16_t kind, const std::string& driver_key,
                     const std::string& name) {
  if (find(id) != nullptr || id.empty() || driver_key.empty() ||
      driver_key.find(' ') != std::string::npos) {
    return false;
  }
  panels_.push_back(Panel{id, driver_key, name, PanelModel(kind)});
  out_ << "plugged " << id << " (" << kind_name(kind) << ", driver key " << driver_key << ")"
       << std::endl;
  announce(panels_.back());
  if (events_.plugged) events_.plugged(panels_.back());
  return true;
}

void PanelHost::send(const std::string& line) {
  if (program_fd_ < 0) return;
  std::string data = line + "\n";
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(program_fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      drop_program();
      return;
    }
    sent += static_cast<std::size_t>(n);
  }
}

void PanelHost::send_input(const Panel& panel, bool resting) {
  if (!resting && events_.input) events_.input(panel.id, panel.model.input_report());
  send("INPUT " + panel.id + " " + to_hex(panel.model.input_report()));
}

// The panel appears, then reports its resting state, as a real one does.
void PanelHost::announce(const Panel& panel) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x %04x", 0, panel.model.kind());
  send("ADD " + panel.id + " " + ids + " " + std::to_string(panel.model.input_length()) + " " +
       std::to_string(panel.model.output_length()) + " " + panel.driver_key + " " + panel.name);
  send_input(panel, true);
}

void PanelHost::accept_program() {
  int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  if (program_fd_ >= 0) {
    ::close(fd);  // one program at a time
    return;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  program_fd_ = fd;
  received_.clear();
  out_ << "program connected" << std::endl;
  if (events_.connection) events_.connection(true);
  for (const Panel& panel : panels_) announce(panel);
}

void PanelHost::drop_program() {
  if (program_fd_ < 0) return;
  ::close(program_fd_);
  program_fd_ = -1;
  out_ << "program disconnected" << std::endl;
  if (events_.connection) events_.connection(false);
}

void PanelHost::receive_from_program() {
  char buffer[4096];
  ssize_t n = ::recv(program_fd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    if (n < 0 && errno == EINTR) return;
    drop_program();
    return;
  }
  received_.append(buffer, static_cast<std::size_t>(n));
  take_lines(received_, [this](const std::string& line) { handle_output(line); });
}

void PanelHost::handle_output(const std::string& line) {
  std::istringstream in(line);
  std::string verb, id, hex;
  in >> verb >> id >> hex;
  auto report = from_hex(hex);
  Panel* panel = find(id);
  if (verb != "OUTPUT" || !report || panel == nullptr) {
    err_ << "virtual-panels: unexpected line from the program: " << line << "\n";
    return;
  }
  outputs_.emplace_back(id, lower(hex));
  out_ << "OUTPUT " << id << " " << lower(hex) << "    " << id << " "
       << panel->model.describe_output(*report) << std::endl;
  if (events_.output) events_.output(*panel, *report);
}

bool PanelHost::execute(const std::string& line) {
  std::istringstream in(line);
  std::string verb, id;
  in >> verb >> id;
  if (verb.empty() || verb == "sleep") return true;  // pauses are the script's
  if (verb == "quit") {
    quit_ = true;
    return true;
  }
  if (verb == "list") {
    for (const Panel& p : panels_)
      out_ << p.id << " " << kind_name(p.model.kind()) << " " << p.driver_key << "\n";
    out_.flush();
    return true;
  }
  if (verb == "plug") {
    std::string kind_text, key, name;
    in >> kind_text >> key;
    std::getline(in >> std::ws, name);
    auto kind = kind_of(kind_text);
    if (!kind || key.empty()) {
      err_ << "usage: plug ID KIND DRIVER-KEY [NAME]\n";
      return false;
    }
    if (!plug(id, *kind, key, name)) {
      err_ << "cannot plug " << id << "\n";
      return false;
    }
    return true;
  }
  if (verb == "expect") {
    std::string hex, timeout;
    in >> hex >> timeout;
    int ms = to_int(timeout).value_or(10000);
    expecting_ = Expectation{id, lower(hex), Clock::now() + std::chrono::milliseconds(ms)};
    return true;
  }
  Panel* panel = find(id);
  if (panel == nullptr) {
    err_ << "no panel " << id << "\n";
    return false;
  }
  if (verb == "unplug") {
    send("REMOVE " + id);
    panels_.erase(panels_.begin() + (panel - panels_.data()));
    out_ << "unplugged " << id << std::endl;
    if (events_.unplugged) events_.unplugged(id);
    return true;
  }
  if (verb == "raw") {
    std::string hex;
    in >> hex;
    auto bytes = from_hex(hex);
    if (!bytes) {
      err_ << "usage: raw ID HEX\n";
      return false;
    }
    if (events_.input) events_.input(id, *bytes);
    send("INPUT " + id + " " + hex);
    return true;
  }
  if (verb == "turn") {
    std::string knob, steps_text;
    in >> knob >> steps_text;
    auto steps = to_int(steps_text);
    if (!steps || *steps == 0) {
      err_ << "usage: turn ID outer|inner STEPS\n";
      return false;
    }
    int step = *steps > 0 ? 1 : -1;
    for (int i = 0; i != *steps; i += step) {
      if (!panel->model.turn(knob, step)) {
        err_ << id << " has no " << knob << " knob\n";
        return false;
      }
      send_input(*panel);
    }
    return true;
  }
  bool ok = false;
  std::string what;
  in >> what;
  if (verb == "press" || verb == "release") {
    ok = panel->model.set_input(what, verb == "press");
    if (ok) send_input(*panel);
  } else if (verb == "tap") {
    ok = panel->model.set_input(what, true);
    if (ok) {
      send_input(*panel);
      panel->model.set_input(what, false);
      send_input(*panel);
    }
  } else if (verb == "select") {
    ok = panel->model.select(what);
    if (ok) send_input(*panel);
  } else if (verb == "bit") {
    std::string state;
    in >> state;
    auto n = to_int(what);
    ok = n && *n >= 0 && (state == "on" || state == "off") &&
         panel->model.set_bit(static_cast<unsigned>(*n), state == "on");
    if (ok) send_input(*panel);
  } else {
    err_ << "unknown command: " << verb << "\n";
    return false;
  }
  if (!ok) err_ << id << ": cannot " << verb << " " << what << "\n";
  return ok;
}

void PanelHost::read_stdin() {
  char buffer[1024];
  ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) {
    read_stdin_ = false;  // no more commands; the panels stay
    return;
  }
  stdin_buffer_.append(buffer, static_cast<std::size_t>(n));
  take_lines(stdin_buffer_, [this](const std::string& line) { execute(line); });
}

// Runs the script's commands that are due; false once it is over.
bool PanelHost::step_script() {
  if (expecting_) {
    for (; outputs_matched_ < outputs_.size(); ++outputs_matched_) {
      const auto& [id, hex] = outputs_[outputs_matched_];
      if (id == expecting_->id && hex == expecting_->hex) {
        ++outputs_matched_;
        out_ << "expected output seen on " << id << std::endl;
        expecting_.reset();
        break;
      }
    }
    if (expecting_) {
      if (Clock::now() < expecting_->deadline) return true;
      err_ << "virtual-panels: " << expecting_->id << " never got " << expecting_->hex << "\n";
      status_ = 1;
      return false;
    }
  }
  if (loop_ && script_next_ == script_.size() && !expecting_) script_next_ = 0;
  while (script_next_ < script_.size() && !expecting_ && !quit_) {
    const ScriptLine& line = script_[script_next_];
    if (!script_due_) script_due_ = Clock::now() + std::chrono::milliseconds(line.delay_ms);
    if (Clock::now() < *script_due_) return true;
    script_due_.reset();
    ++script_next_;
    if (!execute(line.command)) {
      status_ = 1;
      return false;
    }
  }
  // A looping script is never over: the next pass starts it again.
  return loop_ || expecting_.has_value() || script_next_ < script_.size();
}

int PanelHost::run() {
  while (poll_once(-1)) {
  }
  close();
  return status_;
}

bool PanelHost::poll_once(int timeout_ms) {
  if (done_ || quit_) return false;
  bool scripted = !script_.empty();
  if (scripted && program_fd_ >= 0 && !step_script()) {
    if (!keep_serving_) {
      done_ = true;
      return false;
    }
    out_ << "script over" << (status_ != 0 ? " (failed)" : "") << std::endl;
    script_.clear();
    scripted = false;
  }
  int timeout = timeout_ms;
  if (scripted && program_fd_ >= 0 && (timeout < 0 || timeout > 10)) timeout = 10;
  pollfd fds[3] = {{listen_fd_, POLLIN, 0},
                   {program_fd_, POLLIN, 0},
                   {read_stdin_ ? STDIN_FILENO : -1, POLLIN, 0}};
  int ready = ::poll(fds, 3, timeout);
  if (ready < 0 && errno != EINTR) {
    done_ = true;
    return false;
  }
  if (fds[0].revents & POLLIN) accept_program();
  if (program_fd_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) receive_from_program();
  if (fds[2].revents & (POLLIN | POLLHUP)) read_stdin();
  return !quit_;
}

void PanelHost::close() {
  drop_program();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
}

}  // namespace virtual_panels
