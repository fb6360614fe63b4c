// The console view's lines: the format other programs read, each line
// written out (flushed) as soon as it is produced.
#include "platform/console/console_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

#include "shell/view_text.h"

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
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"status label", [](ConsoleView& v) { v.set_text(Control::Label9, "Online"); },
       "Label9: Online\n", ""},
      {"FSUIPC status",
       [](ConsoleView& v) { v.set_text(Control::Label16, "Cannot link to FSUIPC or WideClient"); },
       "Label16: Cannot link to FSUIPC or WideClient\n", ""},
      {"host label keeps its spaces", [](ConsoleView& v) { v.set_text(Control::Label2, "     "); },
       "Label2:      \n", ""},
      {"device list, one line per item",
       [](ConsoleView& v) {
         v.set_device_list({"PANEL - Device = 12", "PANEL - Device = 13"});
       },
       "ListBox1: PANEL - Device = 12\nListBox1: PANEL - Device = 13\n", ""},
      {"emptied device list", [](ConsoleView& v) { v.set_device_list({}); }, "ListBox1:\n", ""},
      {"error on stderr", [](ConsoleView& v) { v.show_error("File not found."); }, "",
       "Error: File not found.\n"},
      {"line break in a text stays one line, escaped",
       [](ConsoleView& v) { v.set_text(Control::Label2, "HOST\nLabel9: Online\r"); },
       "Label2: HOST\\x0ALabel9: Online\\x0D\n", ""},
      // Outside texts cannot drive the terminal: escape sequences, C1 controls
      // and stray bytes are written out as \xNN; UTF-8 letters stay.
      {"configuration value with an escape sequence",
       [](ConsoleView& v) { v.set_text(Control::Label2, "H\x1B]0;owned\x07\x7F\tX"); },
       "Label2: H\\x1B]0;owned\\x07\\x7F\tX\n", ""},
      {"USB product string with C1 control and stray byte",
       [](ConsoleView& v) {
         v.set_device_list(
             {"Caf\xC3\xA9 \xC2\x9B"
              "2J\xFF - Device = 1"});
       },
       "ListBox1: Caf\xC3\xA9 \\xC2\\x9B"
       "2J\\xFF - Device = 1\n",
       ""},
      {"long text is cut",
       [](ConsoleView& v) { v.set_text(Control::Label7, std::string(1 << 20, '7')); },
       "Label7: " + std::string(kMaxLineText, '7') + "...\n", ""},
      {"error text with control bytes",
       [](ConsoleView& v) { v.show_error("'\x1B[2J' is not a valid integer value."); }, "",
       "Error: '\\x1B[2J' is not a valid integer value.\n"},
      // One line per change: the FSUIPC retry sets its status every 500 ms,
      // the start-up sets the brightness twice.
      {"a text set again unchanged prints nothing, a change prints",
       [](ConsoleView& v) {
         for (int i = 0; i < 3; ++i) v.set_text(Control::Label16, "Cannot link");
         v.set_text(Control::Label12, "60");
         v.set_text(Control::Label12, "60");
         v.set_text(Control::Label9, "Cannot link");  // another control's own line
         v.set_text(Control::Label12, "61");
         v.set_text(Control::Label16, "Ok");
         v.set_text(Control::Label16, "Cannot link");
       },
       "Label16: Cannot link\nLabel12: 60\nLabel9: Cannot link\nLabel12: 61\nLabel16: Ok\n"
       "Label16: Cannot link\n",
       ""},
      {"the same device list again prints nothing, a changed one prints whole",
       [](ConsoleView& v) {
         v.set_device_list({"A - Device = 1", "B - Device = 2"});
         v.set_device_list({"A - Device = 1", "B - Device = 2"});
         v.set_device_list({"A - Device = 1"});
         v.set_device_list({});
         v.set_device_list({});
       },
       "ListBox1: A - Device = 1\nListBox1: B - Device = 2\nListBox1: A - Device = 1\n"
       "ListBox1:\n",
       ""},
      {"every error prints, the same one again too, a hint on a line of its own",
       [](ConsoleView& v) {
         v.show_error("File not found.");
         v.show_error("File not found.\nLooked for /a\x1B[2J/Tarvion.ini, then /b/Tarvion.ini.");
       },
       "",
       "Error: File not found.\nError: File not found.\n"
       "Looked for /a\\x1B[2J/Tarvion.ini, then /b/Tarvion.ini.\n"},
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

TEST(ConsoleView, EveryControlPrintsUnderItsWindowName) {
  // The names are an interface: scripts match these lines byte for byte.
  const std::pair<Control, const char*> cases[] = {
      {Control::Label2, "Label2: x\n"},   {Control::Label7, "Label7: x\n"},
      {Control::Label9, "Label9: x\n"},   {Control::Label12, "Label12: x\n"},
      {Control::Label16, "Label16: x\n"},
  };
  ASSERT_EQ(std::size(cases), std::size(kControls));
  for (const auto& [control, line] : cases) {
    MemoryStream out, err;
    ConsoleView view(out.file, err.file);
    view.set_text(control, "x");
    EXPECT_EQ(out.text(), line);
  }
}

TEST(ConsoleView, HasNoNotificationAreaSoTheProgramNeverHidesIt) {
  MemoryStream out, err;
  ConsoleView view(out.file, err.file);
  EXPECT_FALSE(view.tray_add());
}

}  // namespace
}  // namespace tarvion
