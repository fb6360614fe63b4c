// What Explorer, the taskbar and Windows' loader take from the programs'
// files: the version, the icon, and a manifest the loader accepts as it
// reads it (run level, DPI awareness). And the icon file shows the picture
// the window draws, at every size.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_pictures.h"

namespace tarvion {
namespace {

std::wstring wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring version_string(const std::vector<uint8_t>& info, const wchar_t* name) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

int icon_width(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return 0;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

TEST(Win32Resources, BothProgramsCarryVersionIconAndAManifestTheLoaderAccepts) {
  struct Case {
    std::string file;
    std::wstring description_start;
  };
  for (const Case& c : {Case{TARVION_WINDOW_EXE, L"Tarvion: "},
                        Case{TARVION_CONSOLE_EXE, L"Tarvion (console): "}}) {
    SCOPED_TRACE(c.file);
    const std::wstring exe = wide(c.file);
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    EXPECT_EQ(version_string(info, L"ProductName"), L"Tarvion");
    EXPECT_EQ(version_string(info, L"ProductVersion"), wide(TARVION_VERSION));
    EXPECT_TRUE(version_string(info, L"FileDescription").starts_with(c.description_start));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwProductVersionMS,
              static_cast<DWORD>(TARVION_VERSION_MAJOR << 16 | TARVION_VERSION_MINOR));

    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    for (int side : {16, 32, 48, 256}) {
      auto icon = static_cast<HICON>(
          LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
      EXPECT_EQ(icon_width(icon), side) << "no icon of " << side << " px";
      if (icon) DestroyIcon(icon);
    }
    FreeLibrary(module);

    // The loader's own reading of the manifest: a malformed one stops the
    // program from starting at all.
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = exe.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "manifest refused: " << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION run_level{};
    ASSERT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext,
                             &run_level, sizeof run_level, nullptr));
    EXPECT_EQ(run_level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    wchar_t awareness[64] = {};
    SIZE_T written = 0;
    ASSERT_TRUE(QueryActCtxSettingsW(0, context,
                                     L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                     L"dpiAwareness", awareness, 64, &written));
    EXPECT_EQ(std::wstring(awareness), L"PerMonitorV2, PerMonitor");
    ReleaseActCtx(context);
  }
}

// The committed file, against what the window draws now: made again with
// tools/win32-icon when the picture changes. A little slack per channel, as
// another GDI may round an edge pixel differently.
TEST(Win32Resources, TheIconFileShowsTheWindowsPictureAtEverySize) {
  std::ifstream in(TARVION_ICON_FILE, std::ios::binary);
  ASSERT_TRUE(in) << TARVION_ICON_FILE;
  std::vector<uint8_t> committed((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> drawn = window_icon_file(kIconFileSizes);
  ASSERT_EQ(committed.size(), drawn.size()) << "sizes or layout differ";
  int worst = 0;
  for (size_t i = 0; i < drawn.size(); ++i) {
    worst = std::max(worst, std::abs(int{committed[i]} - int{drawn[i]}));
  }
  EXPECT_LE(worst, 24) << "the icon file no longer shows the window's picture";
}

TEST(Win32Fonts, MsSansSerifAt96DpiItsTrueTypeTwinAbove) {
  struct Case {
    UINT dpi;
    const wchar_t* face;
  };
  for (const Case& c : {Case{96, L"MS Sans Serif"}, Case{120, L"Microsoft Sans Serif"},
                        Case{144, L"Microsoft Sans Serif"}, Case{192, L"Microsoft Sans Serif"}}) {
    SCOPED_TRACE(c.dpi);
    form1::FontSet fonts(c.dpi);
    LOGFONTW logfont{};
    ASSERT_GT(GetObjectW(fonts.get(form1::FontLook{11, false, false}), sizeof logfont, &logfont),
              0);
    EXPECT_EQ(std::wstring(logfont.lfFaceName), c.face);
  }
}

}  // namespace
}  // namespace tarvion
