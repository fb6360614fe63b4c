// The Winsock TCP client against a loopback peer: the client contract.
#include "platform/win32/win32_tcp_io.h"
#include "support/loopback_contract_rig.h"
#include "win32_loop.h"

namespace tarvion {
namespace {

class Win32Rig : public test::LoopbackContractRig {
 public:
  Win32Rig()
      : test::LoopbackContractRig(
            std::make_unique<TcpConnection>(std::make_unique<Win32TcpIo>()), [] {
              test::pump_messages_until([] { return false; }, std::chrono::milliseconds(5));
            }) {}
  // Wine reads a reset as an orderly close.
  std::vector<std::string> reset_ends() const override {
    return {"error reset ended", "disconnect"};
  }
};

using test::ClientSocketContract;

INSTANTIATE_TEST_SUITE_P(Winsock, ClientSocketContract,
                         ::testing::Values(test::ContractRigFactory(
                             [] { return std::make_unique<Win32Rig>(); })));

}  // namespace
}  // namespace tarvion
