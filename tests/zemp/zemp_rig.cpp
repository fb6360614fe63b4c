#include "zemp_rig.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvion {

ZempRig::ZempRig(std::string config) : config_text(std::move(config)) {
  socket.on_wire = [this](const std::string& line) { note(line); };
  view.on_line = [this](const std::string& line) {
    if (line.starts_with("Label9:") || line.starts_with("Error:")) note(line);
  };
  program = std::make_unique<Program>(ProgramSeams{main_thread, clock, view, socket, hid, notifier,
                                                   ipc, [this] { return config_text; }});
}

void ZempRig::start() {
  program->FormCreate();
  program->FormShow();
}

void ZempRig::run_until(uint64_t ms) {
  if (ms < clock.now_ms()) throw std::logic_error("run_until: time runs forward only");
  clock.advance(ms - clock.now_ms());
}

void ZempRig::note(const std::string& what) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%6.3f] ", static_cast<double>(clock.now_ms()) / 1000.0);
  transcript.push_back(stamp + what);
}

void ZempRig::set_radio(RadioIndex radio, int32_t value) {
  static const char* const kNames[kRadioCount] = {"COM1", "COM2", "NAV1", "NAV2",
                                                  "ADF1", "ADF2", "ATC"};
  note(std::string("panel: ") + kNames[radio] + " := " + std::to_string(value));
  program->radio.radio_value[radio] = value;
  program->radio.radio_dirty[radio] = 1;
}

std::string ZempRig::transcript_text() const {
  std::string text;
  for (const std::string& line : transcript) text += line + "\n";
  return text;
}

std::string read_transcript(const std::string& name) {
  const std::string path = std::string(TARVION_TEST_DATA) + "/transcripts/" + name + ".txt";
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::string text, line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a checkout with CR LF files
    if (line.empty() || line[0] == '#') continue;
    text += line + "\n";
  }
  return text;
}

}  // namespace tarvion
