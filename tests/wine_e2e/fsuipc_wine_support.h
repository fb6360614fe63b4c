// Helpers of the FSUIPC tests under Wine: a tool whose stdin is a FIFO the
// test types into, and waiting for an output line that contains some text.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "tarvion_run.h"

namespace tarvion::e2e {

// Runs argv through /bin/sh (so "wine" is found on PATH) with stdin from a
// FIFO of its own; type() writes one command line to it.
class TypedChild {
 public:
  TypedChild(const std::vector<std::string>& argv, const std::string& cwd,
             const std::map<std::string, std::string>& env = {});
  ~TypedChild();
  TypedChild(const TypedChild&) = delete;
  TypedChild& operator=(const TypedChild&) = delete;

  void type(const std::string& line);
  ChildProcess& process() { return *process_; }

 private:
  TempFolder fifo_folder_;
  int fifo_ = -1;
  std::unique_ptr<ChildProcess> process_;
};

// Keeps reading a chatty child's stdout on a thread of its own, so that the
// child never blocks on a full pipe while the test waits on something else.
// The child's ChildProcess must not be read elsewhere while this lives.
class LineFeed {
 public:
  explicit LineFeed(ChildProcess& child);
  ~LineFeed();
  LineFeed(const LineFeed&) = delete;
  LineFeed& operator=(const LineFeed&) = delete;

  // Takes lines in order until one contains text; that line, or nothing in time.
  std::optional<std::string> wait_containing(const std::string& text, Ms bound);

 private:
  ChildProcess& child_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::string> lines_;
  bool stop_ = false;
  std::thread reader_;
};

// Reads stdout lines until one contains text; that line, or nothing in time.
std::optional<std::string> wait_line_containing(ChildProcess& child, const std::string& text,
                                                Ms bound);

}  // namespace tarvion::e2e
