#include "radio/input_decoding.h"

namespace tarvion {

// Not built yet: input decoding arrives with the radio logic.
void decode_input_report(RadioContext&, uint16_t, uint16_t, const uint8_t*, size_t) {}

}  // namespace tarvion
