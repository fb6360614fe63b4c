#include "shell/single_instance.h"

namespace tarvion {

bool claim_single_instance(InstanceGuard& guard) {
  if (guard.acquire()) return true;
  guard.signal_running();
  return false;
}

}  // namespace tarvion
