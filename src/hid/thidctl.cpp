#include "hid/thidctl.h"

#include <exception>
#include <memory>

#include "base/error.h"
#include "hid/output_reports.h"
#include "hid/panel_recognition.h"
#include "radio/display.h"
#include "radio/input_decoding.h"
#include "radio/panel_kinds.h"

namespace tarvion {

thidctl::thidctl(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread,
                 PanelLayerState& state)
    : THidDeviceController(hid, notifier, main_thread), state_(state) {
  state_.discovery_suspended = true;
  state_.ctx.state.brightness = 121;
  SetOnDeviceChange(TNotifyEvent::bind<&thidctl::HidCtlDeviceChange>(*this));
  SetOnDeviceUnplug(THidPlugEvent::bind<&thidctl::HidCtlOnDeviceUnplug>(*this));
  SetOnEnumerate(THidEnumerateEvent::bind<&thidctl::HidCtlOnEnumerate>(*this));
}

thidctl::~thidctl() {
  // The handlers are bound to this object, whose part is gone once the base
  // destructor runs: stop every read thread and unhook every device now.
  detach_handlers();
  for (const auto& device : devices()) {
    device->SetOnUnplug({});
    device->SetOnData({});
  }
}

void thidctl::HidCtlDeviceChange(THidDeviceController&) {
  if (state_.discovery_suspended) return;
  // A panel whose read thread cannot be created is kept (it still shows its
  // image) and its error goes up once the others are added and listed.
  std::exception_ptr failure;
  THidDevice* device = nullptr;
  while (ClaimFirst(device)) {
    // A device that is not a panel stays claimed, so it is not offered again
    // while it is attached.
    if (!is_panel(*device)) continue;
    uint16_t kind = device->Attributes().product_id;
    try {
      if (kind_traits(kind).list == PanelList::switches) {
        add_switch_panel(*device);
      } else {
        add_radio_panel(*device, kind);
      }
    } catch (const TarvionError&) {
      if (!failure) failure = std::current_exception();
    }
  }
  std::vector<std::string> reports = denied_panels_.update(denied_now());
  rebuild_device_list();
  // Last: an error box runs a modal loop, in which anything may happen to the lists.
  for (const std::string& report : reports) {
    if (state_.hooks.report_error) state_.hooks.report_error(report);
  }
  if (failure) std::rethrow_exception(failure);
}

std::vector<HidDeniedDevice> thidctl::denied_now() const {
  std::vector<HidDeniedDevice> denied = denied_devices();
  // A panel that opened for queries alone (another program holds it) is
  // listed, but nothing reaches it and nothing comes from it: denied too.
  for (THidDevice* device : state_.panel_devices) {
    if (device->ReadWriteAccess() || device->open_refusal() == HidOpenError::other) continue;
    const THidPnPInfo& pnp = device->PnPInfo();
    denied.push_back(HidDeniedDevice{
        HidInterface{pnp.DeviceInstance, pnp.DevicePath, pnp.Driver, device->Attributes()},
        device->open_refusal()});
  }
  return denied;
}

void thidctl::add_radio_panel(THidDevice& device, uint16_t kind) {
  uint16_t number = device_number(device);
  const PanelKindTraits& traits = kind_traits(kind);
  uint16_t base_input = traits.fixed_base_input;
  if (traits.pair != nullptr) {
    base_input =
        pair_base_input(state_.ctx.lists, kind, number, pair_of_kind(state_.ctx.config, kind));
  }
  auto rad = std::make_unique<c_rad>(make_c_rad(kind, number, base_input));
  rad->device = &device;
  c_rad& added = *rad;
  state_.ctx.lists.radios.push_back(std::move(rad));
  state_.panel_devices.push_back(&device);
  compose_display(state_.ctx, added, DisplayFill::blank);
  load_active_values(state_.ctx.state, added);
  device.SetOnData(THidDataEvent::bind<&thidctl::HidCtlDeviceData>(*this));
}

void thidctl::add_switch_panel(THidDevice& device) {
  auto efis = std::make_unique<c_efis>();
  efis->device = &device;
  efis->number = device_number(device);
  c_efis& added = *efis;
  state_.ctx.lists.switches.push_back(std::move(efis));
  state_.panel_devices.push_back(&device);
  send_first_switch_report(added);
  device.SetOnData(THidDataEvent::bind<&thidctl::HidCtlDeviceData>(*this));
}

void thidctl::rebuild_device_list() {
  std::vector<std::string> lines;
  lines.reserve(state_.panel_devices.size() + denied_panels_.lines().size());
  for (THidDevice* device : state_.panel_devices) {
    lines.push_back(device_list_line(device->ProductName(), device_number(*device)));
  }
  lines.insert(lines.end(), denied_panels_.lines().begin(), denied_panels_.lines().end());
  if (state_.hooks.set_device_list) state_.hooks.set_device_list(lines);
}

void thidctl::HidCtlDeviceData(THidDevice& HidDev, uint8_t, const uint8_t* Data, uint16_t Size) {
  if (!is_panel(HidDev)) return;
  decode_input_report(state_.ctx, HidDev.Attributes().product_id, device_number(HidDev), Data,
                      Size);
}

void thidctl::release_panel(THidDevice& device) {
  if (state_.flags.panels_ready && is_panel(device)) {
    uint16_t number = device_number(device);
    // Every object and device of that number goes: panels sharing a number
    // share their removal.
    if (kind_traits(device.Attributes().product_id).list == PanelList::switches) {
      std::erase_if(state_.ctx.lists.switches,
                    [number](const auto& e) { return e->number == number; });
    } else {
      std::erase_if(state_.ctx.lists.radios,
                    [number](const auto& r) { return r->number == number; });
    }
    std::erase_if(state_.panel_devices,
                  [number](THidDevice* d) { return device_number(*d) == number; });
  }
  THidDevice* released = &device;
  Release(released);
}

void thidctl::HidCtlOnDeviceUnplug(THidDevice& HidDev) {
  release_panel(HidDev);
}

bool thidctl::HidCtlOnEnumerate(THidDevice& HidDev, int) {
  release_panel(HidDev);
  return true;
}

}  // namespace tarvion
