// The console view's lines: the format other programs read, each line
// written out (flushed) as soon as it is produced.
#include "platform/console/console_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace tarvion {
namespace {

// A stream whose buffer becomes visible only when it is flushed, so a line
// that is written but not flushed shows as missing.
struct MemoryStream {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* file = nullptr;
  MemoryStream() { file = open_memstream(&data, &size); }
  ~MemoryStream() {
    std::fclose(file);
    std::free(data);
  }
  std::string text() const { return std::string(data ? data : "", size); }
};

TEST(ConsoleView, EachChangeIsOneFlushedLineOnItsStream) {
  struct Case {
    const char* name;
    std::function<void(ConsoleView&)> act;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"status label", [](ConsoleView& v) { v.set_text("Label9", "Online"); }, "Label9: Online\n",
       ""},
      {"FSUIPC status",
       [](ConsoleView& v) { v.set_text("Label16", "Cannot link to FSUIPC or WideClient"); },
       "Label16: Cannot link to FSUIPC or WideClient\n", ""},
      {"host label keeps its spaces", [](ConsoleView& v) { v.set_text("Label2", "     "); },
       "Label2:      \n", ""},
      {"device list, one line per item",
       [](ConsoleView& v) {
         v.set_device_list({"PANEL - Device = 12", "PANEL - Device = 13"});
       },
       "ListBox1: PANEL - Device = 12\nListBox1: PANEL - Device = 13\n", ""},
      {"emptied device list", [](ConsoleView& v) { v.set_device_list({}); }, "ListBox1:\n", ""},
      {"error on stderr", [](ConsoleView& v) { v.show_error("File not found."); }, "",
       "Error: File not found.\n"},
      {"line break in a text stays one line",
       [](ConsoleView& v) { v.set_text("Label2", "HOST\nLabel9: Online\r"); },
       "Label2: HOST Label9: Online \n", ""},
      {"window-only calls print nothing",
       [](ConsoleView& v) {
         v.hide();
         v.show();
         v.set_trackbar_position(60);
         v.tray_delete();
       },
       "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream out, err;
    ConsoleView view(out.file, err.file);
    c.act(view);
    // No flush here: what is not visible now was not flushed by the view.
    EXPECT_EQ(out.text(), c.out);
    EXPECT_EQ(err.text(), c.err);
  }
}

TEST(ConsoleView, HasNoNotificationAreaSoTheProgramNeverHidesIt) {
  MemoryStream out, err;
  ConsoleView view(out.file, err.file);
  EXPECT_FALSE(view.tray_add());
}

}  // namespace
}  // namespace tarvion
