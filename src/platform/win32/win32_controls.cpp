// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_controls.h"

namespace tarvion::form1 {

namespace {

using K = ControlKind;
constexpr FontLook kNormal{11, false, false};
constexpr FontLook kBold{11, true, false};
constexpr FontLook kTitle{11, true, true};
constexpr FontLook kLarge{13, true, false};

constexpr ControlEntry kControls[] = {
    // The about box.
    {"Panel1", K::Panel, false, 8, 8, 209, 97, L"", kNormal, kWindowText},
    {"Image2", K::Picture, true, 8, 8, 65, 33, L"", kNormal, kWindowText},
    {"Label3", K::Label, true, 88, 9, 112, 16, L"Pendra Modules", kLarge, kWindowText},
    {"Label4", K::Label, true, 112, 27, 75, 13, L"Ver 1.7Beta1", kBold, kWindowText},
    {"Bevel1", K::Bevel, true, 8, 48, 193, 5, L"", kNormal, kWindowText},
    {"Label14", K::Label, true, 58, 57, 95, 13, L"Tarvion for Windows", kBold, kWindowText},
    {"Label5", K::Label, true, 34, 73, 135, 13, L"Settings: .\\Tarvion.ini", kBold, kWindowText},
    // The tab stops after Panel1, in tab order.
    {"ListBox1", K::ListBox, false, 232, 8, 185, 73, L"", kNormal, kWindowText},
    {"Button1", K::Button, false, 384, 216, 41, 17, L"Tray", kNormal, kWindowText},
    {"TrackBar1", K::TrackBar, false, 232, 112, 145, 33, L"", kNormal, kWindowText},
    // The brightness control's labels.
    {"Label11", K::Label, false, 240, 92, 100, 16, L"Bright control :", kLarge, kBlack},
    {"Label12", K::Label, false, 376, 116, 22, 13, L"121", kBold, kRed},
    // The ZEMP section.
    {"Label10", K::Label, false, 32, 116, 82, 13, L"ZEMP-XPLANE", kTitle, kWindowText},
    {"Label1", K::Label, false, 8, 140, 39, 13, L"Host : ", kBold, kWindowText},
    {"Label2", K::Label, false, 48, 140, 21, 13, L"     ", kBold, kNavy},
    {"Label6", K::Label, false, 8, 156, 40, 13, L"Port  : ", kBold, kWindowText},
    {"Label7", K::Label, false, 48, 156, 21, 13, L"     ", kBold, kNavy},
    {"Label8", K::Label, false, 8, 172, 49, 13, L"Status : ", kBold, kWindowText},
    {"Label9", K::Label, false, 64, 172, 79, 13, L"Disconnected", kBold, kNavy},
    // The FSUIPC section.
    {"Label13", K::Label, false, 32, 196, 45, 13, L"FSUIPC", kTitle, kWindowText},
    {"Label15", K::Label, false, 8, 220, 49, 13, L"Status : ", kBold, kWindowText},
    {"Label16", K::Label, false, 64, 220, 79, 13, L"Disconnected", kBold, kNavy},
};

// Bytes at the end of text that start a sequence the text does not finish.
std::size_t incomplete_tail(std::string_view text) {
  std::size_t back = 0;
  while (back < text.size() && back < 4) {
    auto byte = static_cast<unsigned char>(text[text.size() - 1 - back]);
    if ((byte & 0xC0) != 0x80) {  // a lead byte or ASCII
      std::size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      return needed > back + 1 ? back + 1 : 0;
    }
    ++back;
  }
  return 0;
}

}  // namespace

std::span<const ControlEntry> controls() {
  return kControls;
}

std::wstring widen(std::string_view utf8) {
  utf8.remove_suffix(incomplete_tail(utf8));
  if (utf8.empty()) return {};
  int size = static_cast<int>(utf8.size());
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), length);
  return text;
}

std::string narrow(std::wstring_view text) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

const wchar_t* font_face(UINT dpi) {
  return dpi > 96 ? L"Microsoft Sans Serif" : L"MS Sans Serif";
}

FontSet::~FontSet() {
  for (auto& [look, font] : fonts_) DeleteObject(font);
}

HFONT FontSet::get(FontLook look) {
  auto found = fonts_.find(look);
  if (found != fonts_.end()) return found->second;
  LOGFONTW logfont{};
  logfont.lfHeight = -scaled(look.pixels, dpi_);  // negative: character height, not cell
  logfont.lfWeight = look.bold ? FW_BOLD : FW_NORMAL;
  logfont.lfUnderline = look.underline ? TRUE : FALSE;
  logfont.lfCharSet = DEFAULT_CHARSET;
  logfont.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(logfont.lfFaceName, font_face(dpi_), LF_FACESIZE);
  HFONT font = CreateFontIndirectW(&logfont);
  if (!font)
    font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  else
    fonts_.emplace(look, font);
  return font;
}

SIZE text_size(HWND label, HFONT font, const std::wstring& text) {
  SIZE size{0, 0};
  HDC dc = GetDC(label);
  if (!dc) return size;
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  if (!text.empty()) GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  size.cy = metrics.tmHeight;
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return size;
}

}  // namespace tarvion::form1
