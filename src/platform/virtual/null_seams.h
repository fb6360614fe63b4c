// Seams for a program without that hardware or service: no HID devices, no
// device notifications, no FSUIPC. Used until (and where) nothing better exists.
#pragma once

#include "fsuipc/ipc_transport.h"
#include "hid/device_notifier.h"
#include "hid/hid_access.h"

namespace tarvion {

class NullHidAccess : public HidAccess {};
class NullDeviceNotifier : public DeviceNotifier {};
class NullIpcTransport : public IpcTransport {};

}  // namespace tarvion
