// End to end: the real virtual panel host process, the virtual panel link over
// loopback TCP, and a whole Program. A COM panel is plugged, its outer knob
// turned, and the host must receive the display report that shows it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "platform/posix/virtual_panel_connection.h"
#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "shell/program.h"
#include "support/recording_socket.h"

extern char** environ;

namespace tarvion {
namespace {

using testing::RecordingSocket;

// The host process with its standard output read through a pipe.
class HostProcess {
 public:
  HostProcess(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
    ::fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~HostProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  bool started() const { return pid_ > 0; }
  // Reads what is there without waiting.
  void collect() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out_, buffer, sizeof buffer)) > 0)
      output.append(buffer, static_cast<std::size_t>(n));
  }
  // Waits up to ms for more output.
  void wait_output(int ms) {
    pollfd fd{out_, POLLIN, 0};
    ::poll(&fd, 1, ms);
    collect();
  }
  bool exited() {
    if (!exited_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return exited_;
  }
  int exit_code() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

  std::string output;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

TEST(EndToEnd, KnobTurnOnAVirtualComPanelReachesTheHostAsADisplayReport) {
  std::string script_path = ::testing::TempDir() + "hid_e2e_script.txt";
  {
    std::ofstream script(script_path);
    // After the resting report the panel shows COM1 118.000 / 118.000; one
    // detent of the outer knob makes the standby 119.000.
    script << "expect c1 000080110080118879\n"
              "turn c1 outer +1\n"
              "expect c1 000080110090118879\n"
              "quit\n";
  }
  HostProcess host({VIRTUAL_PANELS_EXE, "--port", "0", "--script", script_path,
                    "c1=com:{4d36e96f-e325-11ce-bfc1-08002be10318}\\0012:COM PANEL"});
  ASSERT_TRUE(host.started());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::size_t at;
  while ((at = host.output.find("listening on 127.0.0.1:")) == std::string::npos ||
         host.output.find('\n', at) == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << host.output;
    host.wait_output(100);
  }
  std::string port = host.output.substr(at + 23, host.output.find('\n', at) - at - 23);
  ASSERT_EQ(::setenv(kVirtualPanelsVariable, ("127.0.0.1:" + port).c_str(), 1), 0);

  VirtualMainThread main_thread;
  std::string error;
  auto connection = virtual_panels_from_environment(main_thread, error);
  ASSERT_NE(connection, nullptr) << error;
  ::unsetenv(kVirtualPanelsVariable);

  VirtualClock clock;
  RecordingView view;
  RecordingSocket socket;
  NullIpcTransport ipc;
  auto program = std::make_unique<Program>(ProgramSeams{
      main_thread, clock, view, socket, connection->hid(), connection->notifier(), ipc, [] {
        return std::string(
            "ZEMP_HOST=127.0.0.1\nZEMP_PORT=8080\nFIRST_DEVICE_COM1=YES\nMINIMIZED=NO\n");
      }});
  program->FormCreate();
  program->FormShow();
  while (!host.exited() && std::chrono::steady_clock::now() < deadline) {
    main_thread.run_pending();
    clock.advance(20);
    host.wait_output(5);
  }
  host.collect();
  ASSERT_TRUE(host.exited()) << host.output;
  EXPECT_EQ(host.exit_code(), 0) << host.output;
  EXPECT_NE(host.output.find("c1 display [118000] [119000]  dots 88  bright 121"),
            std::string::npos)
      << host.output;
  // The host has quit by now and its panel may already be gone again: look
  // at what the list box showed on the way.
  EXPECT_NE(std::find(view.lines.begin(), view.lines.end(), "ListBox1: COM PANEL - Device = 12"),
            view.lines.end());
  EXPECT_EQ(connection->link().malformed_lines(), 0u);

  // The host is gone: its panel goes with it.
  auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  main_thread.pump_until(
      [&] { return program->panels.radios.empty() || std::chrono::steady_clock::now() > gone; });
  EXPECT_TRUE(program->panels.radios.empty());
  EXPECT_TRUE(view.device_list.empty());
  program->FormClose();
  program.reset();
  connection.reset();
}

}  // namespace
}  // namespace tarvion
