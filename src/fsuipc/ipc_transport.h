// The inter-process services the FSUIPC client relies on. Filled in by the
// FSUIPC link.
#pragma once

namespace tarvion {

class IpcTransport {
 public:
  virtual ~IpcTransport() = default;
};

}  // namespace tarvion
