// Turns one input report of a panel into its input word (or switch items) and
// calls the panel logic when something changed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "radio/panels.h"

namespace tarvion {

// data/size: the payload after the report-ID byte. Every panel object of the
// given device number receives the report, decoded by the given kind; a panel
// acts on its first report and then only on a change. A payload shorter than
// the kind's layout, or a kind that is not a panel, is ignored unread.
void decode_input_report(RadioContext& ctx, uint16_t kind, uint16_t number, const uint8_t* data,
                         size_t size);

}  // namespace tarvion
