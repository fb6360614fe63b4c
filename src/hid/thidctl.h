// thidctl: the program's one HID device controller, carrying the handlers that
// turn attached Pendra panels into panel objects and take them away again.
#pragma once

#include <cstdint>

#include "hid/denied_panels.h"
#include "hid/hid_controller.h"
#include "hid/panel_layer_state.h"

namespace tarvion {

class thidctl : public THidDeviceController {
 public:
  // Program load: discovery stays suspended; assigning the handlers lists the
  // devices present once (claiming none).
  thidctl(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread,
          PanelLayerState& state);
  ~thidctl() override;

  // OnDeviceChange: claims every new device and makes panel objects of the
  // panels; lists the panels the system refused to open and reports each once.
  void HidCtlDeviceChange(THidDeviceController& Sender);
  // Data handler of every panel device: decodes the input report.
  void HidCtlDeviceData(THidDevice& HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
  // OnDeviceUnplug: takes the panel's objects away and releases the device.
  void HidCtlOnDeviceUnplug(THidDevice& HidDev);
  // OnEnumerate: as an unplug, then goes on.
  bool HidCtlOnEnumerate(THidDevice& HidDev, int Idx);

 private:
  void add_radio_panel(THidDevice& device, uint16_t kind);
  void add_switch_panel(THidDevice& device);
  void release_panel(THidDevice& device);
  void rebuild_device_list();
  // The devices the system refused to open, and the panels it let in for queries alone.
  std::vector<HidDeniedDevice> denied_now() const;

  PanelLayerState& state_;
  DeniedPanels denied_panels_;
};

}  // namespace tarvion
