// The socket error codes as the words the socket tests record.
#pragma once

#include "zemp/client_socket.h"

namespace tarvion::test {

inline const char* socket_error_name(SocketError error) {
  switch (error) {
    case SocketError::refused:
      return "refused";
    case SocketError::timed_out:
      return "timed_out";
    case SocketError::host_not_found:
      return "host_not_found";
    case SocketError::reset:
      return "reset";
    case SocketError::other:
      return "other";
  }
  return "?";
}

}  // namespace tarvion::test
