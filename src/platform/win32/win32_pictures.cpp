// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tarvion {

namespace {

// GDI draws without smoothing: draw four times larger, then average each
// 4 x 4 block down.
constexpr int kOver = 4;
constexpr COLORREF kClear = RGB(255, 0, 255);  // marks what stays transparent

// A drawing surface in the picture's own units (the Qt pictures' coordinates).
class Canvas {
 public:
  Canvas(int width, int height, double unit_x, double unit_y, COLORREF background)
      : width_(width), height_(height), ux_(unit_x * kOver), uy_(unit_y * kOver) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width * kOver;
    info.bmiHeader.biHeight = -height * kOver;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (!dc_ || !bitmap_) return;
    old_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width * kOver, height * kOver};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~Canvas() {
    if (old_) SelectObject(dc_, old_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return bits_ != nullptr; }

  void fill(double x, double y, double w, double h, COLORREF colour) {
    RECT r = at(x, y, w, h);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc_, &r, brush);
    DeleteObject(brush);
  }
  void rounded(double x, double y, double w, double h, double radius, COLORREF inside,
               COLORREF edge) {
    shape(
        inside, edge,
        [&](const RECT& r) {
          int rx = px(radius * 2 * ux_), ry = px(radius * 2 * uy_);
          RoundRect(dc_, r.left, r.top, r.right, r.bottom, rx, ry);
        },
        x, y, w, h);
  }
  void ellipse(double x, double y, double w, double h, COLORREF inside, COLORREF edge) {
    shape(
        inside, edge, [&](const RECT& r) { Ellipse(dc_, r.left, r.top, r.right, r.bottom); }, x, y,
        w, h);
  }

  // The picture at its real size, 0x00RRGGBB rows top down; with alpha in the
  // top byte when transparent is set (the share of the block not kClear).
  std::vector<uint32_t> pixels(bool transparent) const {
    std::vector<uint32_t> out(static_cast<size_t>(width_) * height_);
    const auto* src = static_cast<const uint32_t*>(bits_);
    const uint32_t clear = 0xFF00FF;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        unsigned r = 0, g = 0, b = 0, n = 0;
        for (int dy = 0; dy < kOver; ++dy) {
          for (int dx = 0; dx < kOver; ++dx) {
            uint32_t p = src[(y * kOver + dy) * width_ * kOver + x * kOver + dx] & 0xFFFFFF;
            if (transparent && p == clear) continue;
            r += (p >> 16) & 0xFF, g += (p >> 8) & 0xFF, b += p & 0xFF, ++n;
          }
        }
        uint32_t alpha = transparent ? n * 255 / (kOver * kOver) : 0;
        if (n) r /= n, g /= n, b /= n;
        out[static_cast<size_t>(y) * width_ + x] = (alpha << 24) | (r << 16) | (g << 8) | b;
      }
    }
    return out;
  }

 private:
  static int px(double v) { return static_cast<int>(std::lround(v)); }
  RECT at(double x, double y, double w, double h) const {
    return RECT{px(x * ux_), px(y * uy_), px((x + w) * ux_), px((y + h) * uy_)};
  }
  template <typename Draw>
  void shape(COLORREF inside, COLORREF edge, Draw draw, double x, double y, double w, double h) {
    HBRUSH brush = CreateSolidBrush(inside);
    HPEN pen = CreatePen(PS_SOLID, px(ux_ * 0.8) > 0 ? px(ux_ * 0.8) : 1, edge);
    HGDIOBJ old_brush = SelectObject(dc_, brush);
    HGDIOBJ old_pen = SelectObject(dc_, pen);
    draw(at(x, y, w, h));
    SelectObject(dc_, old_pen);
    SelectObject(dc_, old_brush);
    DeleteObject(pen);
    DeleteObject(brush);
  }

  int width_, height_;
  double ux_, uy_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

// Segments a..g of a seven-segment digit, as the panels show them.
constexpr std::array<uint8_t, 10> kSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                            0x6D, 0x7D, 0x07, 0x7F, 0x6F};
constexpr COLORREF kLit = RGB(60, 230, 90);
constexpr COLORREF kFace = RGB(48, 52, 58);
constexpr COLORREF kFaceEdge = RGB(20, 20, 24);

void draw_digit(Canvas& c, int digit, double x, double y, double w, double h, double t) {
  uint8_t bits = kSegments[static_cast<size_t>(digit % 10)];
  double half = h / 2;
  const double segment[7][4] = {
      {x + t, y, w - 2 * t, t},                 // a
      {x + w - t, y + t, t, half - t},          // b
      {x + w - t, y + half, t, half - t},       // c
      {x + t, y + h - t, w - 2 * t, t},         // d
      {x, y + half, t, half - t},               // e
      {x, y + t, t, half - t},                  // f
      {x + t, y + half - t / 2, w - 2 * t, t},  // g
  };
  for (int i = 0; i < 7; ++i) {
    if (bits & (1u << i)) c.fill(segment[i][0], segment[i][1], segment[i][2], segment[i][3], kLit);
  }
}

// "118.00"-style number with a dot after the third digit.
void draw_number(Canvas& c, const char* digits, double x, double y, double w, double h, double t) {
  double step = w + t * 1.5;
  int index = 0;
  for (const char* d = digits; *d; ++d) {
    if (*d == '.') {
      c.fill(x + index * step - t * 1.2, y + h - t, t, t, kLit);
      continue;
    }
    draw_digit(c, *d - '0', x + index * step, y, w, h, t);
    ++index;
  }
}

}  // namespace

std::vector<uint32_t> window_icon_pixels(int size) {
  double unit = size / 32.0;
  Canvas c(size, size, unit, unit, kClear);
  if (!c.ok()) return {};
  c.rounded(1, 4, 30, 24, 3, kFace, kFaceEdge);
  c.fill(4, 8, 24, 7, RGB(0, 0, 0));
  c.fill(4, 17, 15, 7, RGB(0, 0, 0));
  draw_number(c, "118", 6, 9, 4, 5, 1);
  draw_number(c, "12", 6, 18, 4, 5, 1);
  c.ellipse(21, 17, 8, 8, RGB(150, 150, 160), RGB(30, 30, 30));
  c.fill(24.5, 17.5, 1, 2.5, RGB(30, 30, 30));
  return c.pixels(true);
}

std::vector<uint8_t> window_icon_file(std::span<const int> sizes) {
  auto put16 = [](std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
  };
  std::vector<std::vector<uint8_t>> images;
  for (int size : sizes) {
    std::vector<uint32_t> pixels = window_icon_pixels(size);
    if (pixels.size() != static_cast<size_t>(size) * size) return {};
    std::vector<uint8_t> image;
    // BITMAPINFOHEADER; the height counts the colour rows and the mask's.
    put32(image, 40);
    put32(image, static_cast<uint32_t>(size));
    put32(image, static_cast<uint32_t>(size * 2));
    put16(image, 1);
    put16(image, 32);
    for (int i = 0; i < 6; ++i) put32(image, 0);
    for (int y = size - 1; y >= 0; --y) {  // bottom row first
      for (int x = 0; x < size; ++x) put32(image, pixels[static_cast<size_t>(y) * size + x]);
    }
    // The mask (1: transparent) for programs that ignore alpha; rows padded
    // to 32 bits.
    const int row_bytes = (size + 31) / 32 * 4;
    for (int y = size - 1; y >= 0; --y) {
      std::vector<uint8_t> row(static_cast<size_t>(row_bytes), 0);
      for (int x = 0; x < size; ++x) {
        if ((pixels[static_cast<size_t>(y) * size + x] >> 24) == 0) row[x / 8] |= 0x80 >> (x % 8);
      }
      image.insert(image.end(), row.begin(), row.end());
    }
    images.push_back(std::move(image));
  }
  std::vector<uint8_t> file;
  put16(file, 0);
  put16(file, 1);  // an icon
  put16(file, static_cast<uint32_t>(sizes.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    file.push_back(static_cast<uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]));  // 0 stands for 256
    file.push_back(static_cast<uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]));
    file.push_back(0);  // no palette
    file.push_back(0);
    put16(file, 1);   // planes
    put16(file, 32);  // bits per pixel
    put32(file, static_cast<uint32_t>(images[i].size()));
    put32(file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());
  return file;
}

HICON create_window_icon(int size) {
  std::vector<uint32_t> pixels = window_icon_pixels(size);
  if (pixels.empty()) return nullptr;

  BITMAPV5HEADER header{};
  header.bV5Size = sizeof(header);
  header.bV5Width = size;
  header.bV5Height = -size;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  HICON icon = nullptr;
  if (colour && mask && bits) {
    std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
    ICONINFO info{TRUE, 0, 0, mask, colour};
    icon = CreateIconIndirect(&info);
  }
  if (colour) DeleteObject(colour);
  if (mask) DeleteObject(mask);
  return icon;
}

void draw_about_picture(HDC dc, const RECT& area, COLORREF background) {
  int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return;
  Canvas c(width, height, width / 65.0, height / 33.0, background);
  if (!c.ok()) return;
  c.rounded(0.5, 0.5, 64, 32, 4, kFace, kFaceEdge);
  c.fill(3, 4, 28, 11, RGB(0, 0, 0));
  c.fill(34, 4, 28, 11, RGB(0, 0, 0));
  draw_number(c, "118.00", 4.5, 6, 3, 7, 0.9);
  draw_number(c, "121.50", 35.5, 6, 3, 7, 0.9);
  // The two concentric knobs and the transfer button.
  c.ellipse(40, 18, 13, 13, RGB(140, 140, 150), RGB(25, 25, 25));
  c.ellipse(43.5, 21.5, 6, 6, RGB(170, 170, 180), RGB(25, 25, 25));
  c.rounded(12, 21, 10, 6, 1.5, RGB(210, 210, 215), RGB(25, 25, 25));
  std::vector<uint32_t> pixels = c.pixels(false);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, area.left, area.top, static_cast<DWORD>(width), static_cast<DWORD>(height),
                    0, 0, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
}

}  // namespace tarvion
