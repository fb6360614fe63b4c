// The virtual panel host: serves virtual panels to one Tarvion at a time over
// loopback TCP, takes commands from stdin or a script, prints what each
// panel is told to show.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host_text.h"
#include "panel_model.h"

namespace virtual_panels {

struct Panel {
  std::string id;
  std::string driver_key;
  std::string name;
  PanelModel model;
};

// What the host tells a window or a recorder as it happens; any may be empty.
struct HostEvents {
  std::function<void(const Panel&)> plugged;
  std::function<void(const std::string& id)> unplugged;
  // An input report a command produced (sent when a program is connected);
  // not the resting reports repeated when a program connects.
  std::function<void(const std::string& id, const std::vector<uint8_t>& report)> input;
  std::function<void(const Panel&, const std::vector<uint8_t>& report)> output;
  std::function<void(bool connected)> connection;
};

class PanelHost {
 public:
  PanelHost(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  // Listens on 127.0.0.1:port (0: any free port); false with a message when it cannot.
  bool listen(uint16_t port);
  uint16_t port() const { return port_; }

  // Adds a panel before or while connected; false when the id is taken.
  bool plug(const std::string& id, uint16_t kind, const std::string& driver_key,
            const std::string& name);
  void set_script(std::vector<ScriptLine> script) { script_ = std::move(script); }
  // The script starts over when it ends (the demo).
  void set_loop(bool loop) { loop_ = loop; }
  void set_stdin_commands(bool on) { read_stdin_ = on; }
  // When the script is over the host goes on serving (the window) instead of ending.
  void set_keep_serving(bool on) { keep_serving_ = on; }

  void set_events(HostEvents events) { events_ = std::move(events); }

  // Serves until quit, the end of the script, or a failed expectation; the exit status.
  int run();
  // One round of run(): waits up to timeout_ms (-1: for ever) for the sockets
  // and stdin; false once the host is done (then status() is the exit status).
  bool poll_once(int timeout_ms);
  int status() const { return status_; }
  void close();

  // Runs one command line; false when it could not (a message says why).
  bool execute(const std::string& line);
  const std::vector<Panel>& panels() const { return panels_; }
  bool connected() const { return program_fd_ >= 0; }

 private:
  using Clock = std::chrono::steady_clock;

  void send(const std::string& line);
  void send_input(const Panel& panel, bool resting = false);
  void announce(const Panel& panel);
  void accept_program();
  void drop_program();
  void receive_from_program();
  void handle_output(const std::string& line);
  void read_stdin();
  bool step_script();
  Panel* find(const std::string& id);

  std::ostream& out_;
  std::ostream& err_;
  int listen_fd_ = -1;
  int program_fd_ = -1;
  uint16_t port_ = 0;
  std::vector<Panel> panels_;
  std::string received_;
  std::string stdin_buffer_;
  bool read_stdin_ = false;

  std::vector<ScriptLine> script_;
  std::size_t script_next_ = 0;
  std::optional<Clock::time_point> script_due_;
  struct Expectation {
    std::string id;
    std::string hex;
    Clock::time_point deadline;
  };
  std::optional<Expectation> expecting_;
  std::vector<std::pair<std::string, std::string>> outputs_;  // (id, hex) received
  std::size_t outputs_matched_ = 0;
  bool loop_ = false;
  bool quit_ = false;
  bool done_ = false;
  bool keep_serving_ = false;
  int status_ = 0;
  HostEvents events_;
};

}  // namespace virtual_panels
