// The window program's TCP client (the POSIX socket on Qt's event loop)
// against a loopback peer: the client contract.
#include <QCoreApplication>
#include <thread>

#include "platform/qt/qt_fd_watcher.h"
#include "platform/posix/posix_tcp_io.h"
#include "qt_test_app.h"
#include "support/loopback_contract_rig.h"

namespace tarvion {
namespace {

struct WatcherHolder {
  WatcherHolder() { test::qt_app(); }
  QtFdWatcher watcher;
};

class QtRig : WatcherHolder, public test::LoopbackContractRig {
 public:
  QtRig()
      : test::LoopbackContractRig(
            std::make_unique<TcpConnection>(std::make_unique<PosixTcpIo>(watcher)), [] {
              QCoreApplication::processEvents(QEventLoop::AllEvents);
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }) {}
};

using test::ClientSocketContract;

INSTANTIATE_TEST_SUITE_P(Qt, ClientSocketContract,
                         ::testing::Values(test::ContractRigFactory(
                             [] { return std::make_unique<QtRig>(); })));

}  // namespace
}  // namespace tarvion
