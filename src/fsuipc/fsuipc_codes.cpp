#include "fsuipc/fsuipc_codes.h"

#include <array>

namespace tarvion {

std::string_view fsuipc_error_text(FsuipcCode code) {
  // The wording is FSUIPC's own, which users look up by these exact texts.
  static constexpr std::array<std::string_view, kFsuipcCodeCount> kTexts{
      "Ok",
      "Attempt to Open when already Open",
      "Cannot link to FSUIPC or WideClient",
      "Failed to Register common message with Windows",
      "Failed to create Atom for mapping filename",
      "Failed to create a file mapping object",
      "Failed to open a view to the file map",
      "Incorrect version of FSUIPC, or not FSUIPC",
      "Sim is not version requested",
      "Call cannot execute, link not Open",
      "Call cannot execute: no requests accumulated",
      "IPC timed out all retries",
      "IPC sendmessage failed all retries",
      "IPC request contains bad data",
      "Maybe running on WideClient, but FS not running on Server, or wrong FSUIPC",
      "Read or Write request cannot be added, memory for Process is full",
  };
  const auto index = static_cast<uint32_t>(code);
  return index < kTexts.size() ? kTexts[index] : std::string_view{};
}

}  // namespace tarvion
