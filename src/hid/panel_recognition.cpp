#include "hid/panel_recognition.h"

#include "base/utf16.h"
#include "hid/hid_device.h"
#include "radio/panel_kinds.h"

namespace tarvion {

bool is_panel(uint16_t vendor_id, uint16_t product_id) {
  return vendor_id == 0 && panel_kind_traits(product_id) != nullptr;
}

bool is_panel(const THidDevice& device) {
  return is_panel(device.Attributes().vendor_id, device.Attributes().product_id);
}

uint16_t device_number_of_driver_key(std::string_view driver_key) {
  std::string_view tail =
      driver_key.size() > 4 ? driver_key.substr(driver_key.size() - 4) : driver_key;
  if (tail.empty()) return 0;
  uint16_t number = 0;
  for (char c : tail) {
    if (c < '0' || c > '9') return 0;
    number = static_cast<uint16_t>(number * 10 + (c - '0'));  // four digits fit
  }
  return number;
}

uint16_t device_number(const THidDevice& device) {
  return device_number_of_driver_key(device.PnPInfo().Driver);
}

BasePair pair_of_kind(const Config& config, uint16_t kind) {
  BasePair Config::*pair = kind_traits(kind).pair;
  return pair ? config.*pair : BasePair{};
}

uint16_t pair_base_input(PanelLists& lists, uint16_t kind, uint16_t number, BasePair pair) {
  uint16_t result = pair.first;
  // With three or more of a kind the last one listed decides: that is how the
  // panels have always been paired, and users rely on the order it gives.
  for (auto& listed : lists.radios) {
    if (listed->kind != kind) continue;
    if (number < listed->number) {
      listed->base_input = pair.second;
      result = pair.first;
    } else {
      result = pair.second;
    }
  }
  return result;
}

std::string device_list_line(const std::u16string& product_name, uint16_t number) {
  return utf16_to_utf8(product_name) + " - Device = " + std::to_string(number);
}

}  // namespace tarvion
