// What fsuipc-sim shows: the offsets Tarvion writes or reads back, each as its
// raw bytes with the value they stand for, and which of them changed.
#pragma once

#include <string>
#include <vector>

#include "platform/virtual/in_memory_fsuipc.h"

namespace fsuipc_sim {

class OffsetWatch {
 public:
  // What the service holds now counts as seen.
  explicit OffsetWatch(const tarvion::InMemoryFsuipc& service);

  // One line for each watched offset whose value changed since
  // the previous call, e.g. "0x034E COM1 bytes 00 18 = 118.00 MHz".
  std::vector<std::string> changes();
  // Every watched offset as it stands.
  std::vector<std::string> all() const;

 private:
  std::string key(std::size_t index) const;
  std::string line(std::size_t index) const;

  const tarvion::InMemoryFsuipc& service_;
  std::vector<std::string> seen_;  // key() per watched offset, as last reported
};

}  // namespace fsuipc_sim
