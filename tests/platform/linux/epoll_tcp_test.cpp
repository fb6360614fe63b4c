// The console program's TCP client (the POSIX socket on the epoll loop)
// against a loopback peer: the client contract.
#include "epoll_test_loop.h"
#include "platform/posix/posix_tcp_io.h"
#include "support/loopback_contract_rig.h"

namespace tarvion {
namespace {

struct LoopHolder {
  EpollLoop loop;
};

class EpollRig : LoopHolder, public test::LoopbackContractRig {
 public:
  EpollRig()
      : test::LoopbackContractRig(
            std::make_unique<TcpConnection>(std::make_unique<PosixTcpIo>(loop)),
            [this] { loop.run_once(10); }) {}
};

using test::ClientSocketContract;

INSTANTIATE_TEST_SUITE_P(Epoll, ClientSocketContract,
                         ::testing::Values(test::ContractRigFactory(
                             [] { return std::make_unique<EpollRig>(); })));

}  // namespace
}  // namespace tarvion
