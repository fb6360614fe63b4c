#include "shell/config_loader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/error.h"
#include "platform/virtual/recording_view.h"

namespace tarvion {
namespace {

struct Loaded {
  Config config;
  int32_t brightness = 0;
  RecordingView view;
  std::string error;
  std::string hint;
};

Loaded load(const std::string& text) {
  Loaded l;
  try {
    l.hint = load_configuration([&] { return text; }, l.config, l.brightness, l.view);
  } catch (const TarvionError& e) {
    l.error = e.what();
  }
  return l;
}

TEST(ConfigLoader, NormalisesLinesBeforeMatching) {
  struct Case {
    const char* name;
    const char* text;
    std::function<void(const Loaded&)> check;
  };
  const Case cases[] = {
      {"lower case with spaces inside the port", "zemp_port = 80 92\n",
       [](const Loaded& l) { EXPECT_EQ(l.config.zemp_port_text, "8092"); }},
      {"host upper-cased and shown so", "zemp_host=my-sim.local\n",
       [](const Loaded& l) {
         EXPECT_EQ(l.config.zemp_host, "MY-SIM.LOCAL");
         EXPECT_EQ(l.view.text(Control::Label2), "MY-SIM.LOCAL");
       }},
      {"tab before = is part of the key", "XPLANE\t=YES\n",
       [](const Loaded& l) { EXPECT_FALSE(l.config.zemp_mode); }},
      {"byte-order mark spoils the first line only", "\xEF\xBB\xBFXPLANE=YES\nMFLAPS=40\n",
       [](const Loaded& l) {
         EXPECT_FALSE(l.config.zemp_mode);
         EXPECT_EQ(l.config.mflaps, 40);
       }},
      {"last of two lines wins", "ZEMP_HOST=A\nZEMP_HOST=B\n",
       [](const Loaded& l) { EXPECT_EQ(l.config.zemp_host, "B"); }},
      {"CR LF, lone CR and no final line end", "MFLAPS=4\r0\r\nTRIM_FACTOR=12",
       [](const Loaded& l) {
         EXPECT_EQ(l.config.mflaps, 40);
         EXPECT_EQ(l.config.trim_factor, 12);
       }},
      {"Ctrl-Z ends the file",
       "MFLAPS=45\n\x1A"
       "MFLAPS=oops\n",
       [](const Loaded& l) {
         EXPECT_EQ(l.error, "");
         EXPECT_EQ(l.config.mflaps, 45);
       }},
      {"comment-like and unknown lines are ignored", ";XPLANE=YES\n[Main]\nFOO=1\nplain words\n",
       [](const Loaded& l) {
         EXPECT_EQ(l.error, "");
         EXPECT_FALSE(l.config.zemp_mode);
       }},
      {"value after the first = only", "MINIMIZED=NO=YES\n",
       [](const Loaded& l) { EXPECT_FALSE(l.config.start_to_tray); }},
      {"FOLLOW_SIM is a yes/no key", "follow_sim = y e s\n",
       [](const Loaded& l) { EXPECT_TRUE(l.config.follow_sim); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(load(c.text));
  }
}

TEST(ConfigLoader, YesNoValuesAreTrueOnlyForYes) {
  struct Case {
    const char* value;
    bool zemp;
  };
  const Case cases[] = {{"YES", true},   {"yes", true}, {"y e s", true}, {"1", false},
                        {"TRUE", false}, {"", false},   {"NO", false},   {"YESS", false}};
  for (const Case& c : cases) {
    EXPECT_EQ(load(std::string("XPLANE=") + c.value + "\n").config.zemp_mode, c.zemp) << c.value;
  }
}

TEST(ConfigLoader, IntegerValuesAndTheirErrors) {
  struct Case {
    const char* line;
    int32_t brightness;  // after clamping, when no error
    const char* error;   // "" when none
  };
  const Case cases[] = {
      {"BRIGHT=500", 121, ""},
      {"BRIGHT=0", 1, ""},
      {"BRIGHT=-7", 1, ""},
      {"BRIGHT=$3C", 60, ""},
      {"BRIGHT=", 0, "'' is not a valid integer value"},
      {"BRIGHT=ten", 0, "'TEN' is not a valid integer value"},
      {"BRIGHT=99999999999", 0, "'99999999999' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    Loaded l = load(std::string(c.line) + "\n");
    EXPECT_EQ(l.error, c.error) << c.line;
    if (*c.error == 0) {
      EXPECT_EQ(l.brightness, c.brightness) << c.line;
      EXPECT_EQ(l.view.text(Control::Label12), std::to_string(c.brightness)) << c.line;
    }
  }
  EXPECT_EQ(load("SET_COM1=$1CCF0\n").config.start_values[0], 118000);
}

TEST(ConfigLoader, AnErrorKeepsEarlierLinesAndSkipsTheRestAndTheLabels) {
  Loaded l = load("MFLAPS=50\nTRIM_FACTOR=abc\nMFLAPS=60\nBRIGHT=500\nZEMP_HOST=X\n");
  EXPECT_EQ(l.error, "'ABC' is not a valid integer value");
  EXPECT_EQ(l.config.mflaps, 50);
  EXPECT_EQ(l.config.zemp_host, "");
  EXPECT_TRUE(l.view.lines.empty()) << "labels are written only after a clean read";
}

TEST(ConfigLoader, FirstDevicePairsAreZeroWhenAbsent) {
  struct Case {
    const char* text;
    BasePair com, nav, adf, rmp;
  };
  const Case cases[] = {
      {"", {0, 0}, {0, 0}, {0, 0}, {0, 0}},
      {"FIRST_DEVICE_COM1=YES\nFIRST_DEVICE_NAV1=yes\nFIRST_DEVICE_ADF1=YES\nFIRST_DEVICE_RMP1="
       "YES\n",
       {16, 256},
       {512, 1024},
       {16384, 32768},
       {1, 2}},
      {"FIRST_DEVICE_COM1=NO\nFIRST_DEVICE_NAV1=\nFIRST_DEVICE_ADF1=1\nFIRST_DEVICE_RMP1=TRUE\n",
       {256, 16},
       {1024, 512},
       {32768, 16384},
       {2, 1}},
  };
  for (const Case& c : cases) {
    Config config = load(c.text).config;
    EXPECT_EQ(config.com_pair, c.com) << c.text;
    EXPECT_EQ(config.nav_pair, c.nav) << c.text;
    EXPECT_EQ(config.adf_pair, c.adf) << c.text;
    EXPECT_EQ(config.rmp_pair, c.rmp) << c.text;
  }
}

TEST(ConfigLoader, DefaultsAndTheStatusLabelOfEachLink) {
  Loaded fs = load("");
  EXPECT_EQ(fs.config.trim_factor, 300);
  EXPECT_EQ(fs.config.mflaps, 30);
  EXPECT_TRUE(fs.config.start_to_tray);
  EXPECT_TRUE(fs.config.com_frec_5);
  EXPECT_TRUE(fs.config.emulate_test);
  EXPECT_TRUE(fs.config.all_lights);
  EXPECT_FALSE(fs.config.follow_sim);
  EXPECT_EQ(fs.brightness, 121);
  EXPECT_EQ(fs.view.text(Control::Label9), "Fsimulator");
  EXPECT_EQ(fs.view.texts.count(Control::Label16), 0u);

  Loaded zemp = load("XPLANE=YES\nACTIVE_NAV2=NO\n");
  EXPECT_EQ(zemp.view.text(Control::Label16), "Disconnected");
  EXPECT_EQ(zemp.view.texts.count(Control::Label9), 0u);
  EXPECT_FALSE(zemp.config.active_write[3]);
  EXPECT_TRUE(zemp.config.active_write[2]);
}

TEST(ConfigLoader, ALoadResetsDefaultsButKeepsHostPortTimeoutAndPairs) {
  Config config;
  int32_t brightness = 0;
  RecordingView view;
  load_configuration(
      [] {
        return std::string(
            "ZEMP_HOST=H\nZEMP_PORT=1\nZEMP_TIMEOUT=5\nFIRST_DEVICE_COM1=YES\n"
            "MFLAPS=44\nFOLLOW_SIM=YES\n");
      },
      config, brightness, view);
  load_configuration([] { return std::string(""); }, config, brightness, view);
  EXPECT_EQ(config.zemp_host, "H");
  EXPECT_EQ(config.zemp_port_text, "1");
  EXPECT_EQ(config.zemp_timeout, 5);
  EXPECT_EQ(config.com_pair, (BasePair{16, 256}));
  EXPECT_EQ(config.mflaps, 30);
  EXPECT_FALSE(config.follow_sim);
}

TEST(ConfigLoader, HostileInputNeverCrashes) {
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage.push_back(static_cast<char>((i * 7919) % 256));
  Loaded g = load(garbage);  // an error or nothing, but no crash
  (void)g;

  std::string huge = "ZEMP_HOST=" + std::string(4 * 1024 * 1024, 'a') + "\nMFLAPS=7\n";
  Loaded h = load(huge);
  EXPECT_EQ(h.error, "");
  EXPECT_EQ(h.config.zemp_host.size(), 4u * 1024 * 1024);
  EXPECT_EQ(h.config.mflaps, 7);
}

// Notepad's "Unicode": UTF-16, little-endian unless it says otherwise.
std::string utf16(const std::string& text, bool big_endian, bool mark) {
  std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (char c : text) {
    out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

TEST(ConfigLoader, AFileSavedAsUtf16MatchesNoKeyAndTheHintSaysWhy) {
  const std::string ini = "XPLANE=YES\r\nZEMP_PORT=8092\r\nBRIGHT=60\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    bool utf16;
    const char* port;
  };
  // What the file holds is read as it always was: nothing, for UTF-16, so
  // the start-up still ends at the missing ZEMP_PORT.
  const Case cases[] = {
      {"UTF-16 LE with its mark", utf16(ini, false, true), true, ""},
      {"UTF-16 BE with its mark", utf16(ini, true, true), true, ""},
      {"UTF-16 LE without a mark", utf16(ini, false, false), true, ""},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + ini, false, "8092"},
      {"plain text", ini, false, "8092"},
      {"a stray NUL in plain text", std::string("ZEMP_HOST=A\0B\n", 14) + ini, false, "8092"},
      {"empty", "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded l = load(c.bytes);
    EXPECT_EQ(l.error, "");
    EXPECT_EQ(l.hint, c.utf16 ? kConfigUtf16Hint : "");
    EXPECT_EQ(l.config.zemp_port_text, c.port);
  }
}

TEST(ConfigFile, TheFirstPlaceThatHoldsAFileIsReadAMissingOneSaysWhereItLooked) {
  namespace fs = std::filesystem;
  const std::string dir = ::testing::TempDir() + "tarvion_config_places";
  fs::remove_all(dir);
  for (const char* sub : {"/here", "/home", "/folder/Tarvion.ini", "/none"}) {
    fs::create_directories(dir + sub);
  }
  std::ofstream(dir + "/here/Tarvion.ini", std::ios::binary) << "HERE=1\n";
  std::ofstream(dir + "/home/Tarvion.ini", std::ios::binary) << "HOME=1\n";
  const std::string here = dir + "/here/Tarvion.ini", home = dir + "/home/Tarvion.ini",
                    none = dir + "/none/Tarvion.ini", folder = dir + "/folder/Tarvion.ini";
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    std::string read;  // the path read, or the error
    std::string hint;
  };
  const Case cases[] = {
      {"the current folder comes first", {here, home}, here, ""},
      {"a missing file sends the search on", {none, home}, home, ""},
      {"one that cannot be read is said, not passed over", {folder, home}, kConfigNotAFile, ""},
      {"none anywhere",
       {none, none + "2"},
       kConfigNotFound,
       "Looked for " + none + ", then " + none + "2."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ConfigFile file = read_first_config_file(c.paths);
      EXPECT_EQ(file.path, c.read);
      EXPECT_EQ(file.bytes, c.read == here ? "HERE=1\n" : "HOME=1\n");
    } catch (const TarvionError& e) {
      EXPECT_EQ(e.what(), c.read);
      EXPECT_EQ(e.hint(), c.hint);
    }
  }
  fs::remove_all(dir);
}

TEST(ConfigFile, MissingFileSaysFileNotFound) {
  try {
    read_config_file("/nonexistent-dir-for-tarvion/Tarvion.ini");
    FAIL();
  } catch (const TarvionError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
}

TEST(ConfigFile, ReadsTheWholeFileAsBytes) {
  std::string path = ::testing::TempDir() + "tarvion_config_test.ini";
  {
    std::ofstream f(path, std::ios::binary);
    f << "XPLANE=YES\r\nBRIGHT=60\r\n";
  }
  EXPECT_EQ(read_config_file(path), "XPLANE=YES\r\nBRIGHT=60\r\n");
  std::remove(path.c_str());
}

#if !defined(_WIN32)
TEST(ConfigFile, OnlyARegularFileOfAtMostAMegabyteIsRead) {
  const std::string dir = ::testing::TempDir() + "tarvion_config_kinds";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/folder");
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  std::ofstream(dir + "/limit", std::ios::binary) << std::string(kMaxConfigFileBytes, 'x');
  std::ofstream(dir + "/large", std::ios::binary) << std::string(kMaxConfigFileBytes + 1, 'x');
  struct Case {
    std::string path;
    std::string error;  // empty: read whole
  };
  const Case cases[] = {
      {dir + "/folder", kConfigNotAFile},
      {dir + "/fifo", kConfigNotAFile},
      {"/dev/zero", kConfigNotAFile},
      {dir + "/large", kConfigTooLarge},
      {dir + "/limit", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto read = std::async(std::launch::async, [&]() -> std::string {
      try {
        return "read " + std::to_string(read_config_file(c.path).size());
      } catch (const TarvionError& e) {
        return e.what();
      }
    });
    if (read.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      // Blocked in opening the FIFO: a writer that leaves at once frees it.
      ::close(::open(c.path.c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << "the read blocked";
    }
    EXPECT_EQ(read.get(),
              c.error.empty() ? "read " + std::to_string(kMaxConfigFileBytes) : c.error);
  }
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace tarvion
