// A PNG file from 8-bit RGB rows, with no library: the driver's screenshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvion::window_driver {

// rgb: height rows of width pixels, three bytes each. False when the file
// cannot be written.
bool write_png(const std::string& file, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace tarvion::window_driver
