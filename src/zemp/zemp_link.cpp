#include "zemp/zemp_link.h"

namespace tarvion {

ZempLink::ZempLink(ClientSocket& socket, RadioState& radio, ProgramFlags& flags, ZempHooks hooks)
    : socket_(socket), radio_(radio), flags_(flags), hooks_(std::move(hooks)) {}

// Not built yet: the variable table arrives with the ZEMP link.
void ZempLink::create_zemp_variables() {}
// Not built yet: the receive buffer arrives with the ZEMP link.
void ZempLink::clear_receive_buffer() {}
// Not built yet: the exchange arrives with the ZEMP link.
void ZempLink::zemp_exchange() {}

}  // namespace tarvion
