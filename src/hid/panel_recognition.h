// Which HID devices are Pendra panels, their device numbers, and which of a
// pair of same-kind panels serves which radio.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/config.h"
#include "radio/panels.h"

namespace tarvion {

class THidDevice;

// Vendor 0 with a product ID of the panel kind table.
bool is_panel(uint16_t vendor_id, uint16_t product_id);
bool is_panel(const THidDevice& device);

// The last four characters of the driver key (all of it when shorter) read as
// a decimal number; 0 when they are not one.
uint16_t device_number_of_driver_key(std::string_view driver_key);
uint16_t device_number(const THidDevice& device);

// The FIRST_DEVICE_ pair of a paired kind; (0, 0) otherwise.
BasePair pair_of_kind(const Config& config, uint16_t kind);

// base_input of a new panel of a paired kind, before it joins the list. May
// move panels of its kind already listed to the pair's second value.
uint16_t pair_base_input(PanelLists& lists, uint16_t kind, uint16_t number, BasePair pair);

// "<product string> - Device = <number>", UTF-8.
std::string device_list_line(const std::u16string& product_name, uint16_t number);

}  // namespace tarvion
