#include "window_driver_png.h"

#include <array>
#include <fstream>

namespace tarvion::window_driver {

namespace {

uint32_t crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// Deflate with the fixed codes, matches only as runs of one repeated byte:
// after the Sub filter a screenshot's flat areas are long runs of zeros.
class Deflater {
 public:
  std::vector<uint8_t> compress(const std::vector<uint8_t>& data) {
    bits(1, 1);  // the last block
    bits(1, 2);  // fixed codes
    std::size_t i = 0;
    while (i < data.size()) {
      std::size_t run = 0;
      if (i > 0) {
        while (i + run < data.size() && run < 258 && data[i + run] == data[i - 1]) ++run;
      }
      if (run >= 3) {
        length(static_cast<int>(run));
        code(0, 5);  // distance 1
        i += run;
      } else {
        literal(data[i++]);
      }
    }
    literal(256);
    if (used_) out_.push_back(static_cast<uint8_t>(acc_));
    return out_;
  }

 private:
  void bits(uint32_t value, int count) {  // least significant bit first
    for (int b = 0; b < count; ++b) {
      acc_ |= ((value >> b) & 1u) << used_;
      if (++used_ == 8) out_.push_back(static_cast<uint8_t>(acc_)), acc_ = 0, used_ = 0;
    }
  }
  void code(uint32_t value, int count) {  // Huffman codes: most significant bit first
    for (int b = count - 1; b >= 0; --b) bits((value >> b) & 1u, 1);
  }
  void literal(int symbol) {
    if (symbol < 144)
      code(0x30 + symbol, 8);
    else if (symbol < 256)
      code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
      code(symbol - 256, 7);
    else
      code(0xC0 + symbol - 280, 8);
  }
  void length(int n) {
    static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int k = 28;
    while (base[k] > n) --k;
    literal(257 + k);
    bits(static_cast<uint32_t>(n - base[k]), extra[k]);
  }

  std::vector<uint8_t> out_;
  uint32_t acc_ = 0;
  int used_ = 0;
};

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  put32(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  put32(png, crc32(body.data(), body.size()));
}

}  // namespace

bool write_png(const std::string& file, int width, int height, const std::vector<uint8_t>& rgb) {
  std::size_t stride = static_cast<std::size_t>(width) * 3;
  if (width <= 0 || height <= 0 || rgb.size() < stride * height) return false;
  std::vector<uint8_t> filtered;
  filtered.reserve((stride + 1) * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &rgb[stride * y];
    filtered.push_back(1);  // Sub: each byte less the same colour byte of the pixel before
    for (std::size_t x = 0; x < stride; ++x)
      filtered.push_back(static_cast<uint8_t>(row[x] - (x >= 3 ? row[x - 3] : 0)));
  }
  uint32_t a = 1, b = 0;
  for (uint8_t byte : filtered) a = (a + byte) % 65521, b = (b + a) % 65521;
  std::vector<uint8_t> zlib{0x78, 0x01};
  std::vector<uint8_t> deflated = Deflater().compress(filtered);
  zlib.insert(zlib.end(), deflated.begin(), deflated.end());
  put32(zlib, (b << 16) | a);

  std::vector<uint8_t> header;
  put32(header, static_cast<uint32_t>(width));
  put32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", zlib);
  chunk(png, "IEND", {});
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

}  // namespace tarvion::window_driver
