#include "platform/virtual/in_memory_fsuipc.h"

#include <algorithm>

#include "fsuipc/fsuipc_block.h"

namespace tarvion {

namespace {

// System codes the service hands out where Windows would.
constexpr uint32_t kErrorInvalidWindow = 1400;
constexpr uint32_t kErrorAccessDenied = 5;

int32_t step_towards(int32_t value, int32_t target, int32_t step) {
  if (value < target) return std::min(target, value + step);
  if (value > target) return std::max(target, value - step);
  return value;
}

}  // namespace

InMemoryFsuipc::InMemoryFsuipc() {
  set_versions(0x49990000, 0xFADE0008);
}

void InMemoryFsuipc::set_versions(uint32_t fsuipc_version, uint32_t fs_version) {
  fsuipc_version_ = fsuipc_version;
  fs_version_ = fs_version;
  write_offset(0x3304, 4, fsuipc_version);
  write_offset(0x3308, 4, fs_version);
}

uint32_t InMemoryFsuipc::read_offset(uint16_t offset, int size) const {
  uint32_t value = 0;
  for (int i = 0; i < size && offset + i < 0x10000; ++i) {
    value |= static_cast<uint32_t>(memory_[offset + i]) << (8 * i);
  }
  return value;
}

void InMemoryFsuipc::write_offset(uint16_t offset, int size, uint32_t value) {
  for (int i = 0; i < size && offset + i < 0x10000; ++i) {
    memory_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

void InMemoryFsuipc::set_gear_legs(int32_t leg1, int32_t leg2, int32_t leg3) {
  write_offset(0x0BEC, 4, static_cast<uint32_t>(leg1));
  write_offset(0x0BF0, 4, static_cast<uint32_t>(leg2));
  write_offset(0x0BF4, 4, static_cast<uint32_t>(leg3));
}

void InMemoryFsuipc::set_flaps(uint16_t detent_increment, uint16_t position) {
  write_offset(0x3BFA, 2, detent_increment);
  write_offset(0x30E0, 2, position);
  write_offset(0x0BDC, 4, position);
  write_offset(0x0BE0, 4, position);
}

void InMemoryFsuipc::run_simulator(uint32_t ms) {
  const int64_t gear_step64 = static_cast<int64_t>(gear_units_per_ms) * ms;
  const int64_t flap_step64 = static_cast<int64_t>(flap_units_per_ms) * ms;
  const auto gear_step = static_cast<int32_t>(std::min<int64_t>(gear_step64, 0x7FFFFFFF));
  const auto flap_step = static_cast<int32_t>(std::min<int64_t>(flap_step64, 0x7FFFFFFF));
  const int32_t gear_target = read_offset(0x0BE8, 4) != 0 ? 16383 : 0;
  for (uint16_t leg : {0x0BEC, 0x0BF0, 0x0BF4}) {
    const auto position = static_cast<int32_t>(read_offset(leg, 4));
    write_offset(leg, 4, static_cast<uint32_t>(step_towards(position, gear_target, gear_step)));
  }
  const auto flap_target = static_cast<int32_t>(std::min<uint32_t>(read_offset(0x0BDC, 4), 16383));
  const auto flaps = static_cast<int32_t>(read_offset(0x30E0, 2));
  const int32_t moved = step_towards(flaps, flap_target, flap_step);
  if (moved != flaps) {
    write_offset(0x30E0, 2, static_cast<uint32_t>(moved));
    write_offset(0x0BE0, 4, static_cast<uint32_t>(moved));
  }
}

int InMemoryFsuipc::mappings_held() const {
  return static_cast<int>(handles_.size());
}

IpcWindow InMemoryFsuipc::find_window(const std::string& cls) {
  return !window_class.empty() && cls == window_class ? kServerWindow : kNoIpcWindow;
}

uint32_t InMemoryFsuipc::register_message(const std::string&) {
  if (faults.register_fails) {
    last_error_ = kErrorAccessDenied;
    return 0;
  }
  return kIpcMessage;
}

uint16_t InMemoryFsuipc::add_atom(const std::string& name) {
  if (faults.atom_fails) {
    last_error_ = kErrorAccessDenied;
    return 0;
  }
  const uint16_t atom = next_atom_++;
  atoms_[atom] = name;
  return atom;
}

void InMemoryFsuipc::delete_atom(uint16_t atom) {
  atoms_.erase(atom);
}

IpcMapping InMemoryFsuipc::create_mapping(const std::string& name, std::size_t size,
                                          bool& already_existed) {
  already_existed = false;
  if (faults.mapping_fails) {
    last_error_ = kErrorAccessDenied;
    return kNoIpcMapping;
  }
  auto& object = objects_[name];
  if (object) {
    already_existed = true;
  } else {
    object = std::make_shared<std::vector<uint8_t>>(size);
  }
  const IpcMapping handle = next_handle_++;
  handles_[handle] = object;
  return handle;
}

std::span<uint8_t> InMemoryFsuipc::map_view(IpcMapping mapping) {
  auto it = handles_.find(mapping);
  if (faults.view_fails || it == handles_.end()) {
    last_error_ = kErrorAccessDenied;
    return {};
  }
  views_.push_back(it->second);
  return *it->second;
}

void InMemoryFsuipc::unmap_view(std::span<uint8_t> view) {
  auto it = std::find_if(views_.begin(), views_.end(),
                         [&](const auto& object) { return object->data() == view.data(); });
  if (it != views_.end()) views_.erase(it);
  drop_unused_objects();
}

void InMemoryFsuipc::close_mapping(IpcMapping mapping) {
  handles_.erase(mapping);
  drop_unused_objects();
}

void InMemoryFsuipc::drop_unused_objects() {
  // A named object lives while a handle or a view holds it.
  for (auto it = objects_.begin(); it != objects_.end();) {
    it = it->second.use_count() == 1 ? objects_.erase(it) : std::next(it);
  }
}

bool InMemoryFsuipc::send_message(IpcWindow window, uint32_t message, uint64_t wparam, int64_t,
                                  uint32_t, int64_t& answer) {
  ++sends;
  if (during_send) during_send();
  if (faults.failing_sends > 0) {
    --faults.failing_sends;
    last_error_ = faults.send_error;
    return false;
  }
  if (window == kNoIpcWindow || find_window(window_class) != window) {
    last_error_ = kErrorInvalidWindow;
    return false;
  }
  // What the server's window does with a message or atom it does not know.
  answer = 0;
  if (message != kIpcMessage) return true;
  auto atom = atoms_.find(static_cast<uint16_t>(wparam));
  if (atom == atoms_.end()) return true;
  auto object = objects_.find(atom->second);
  if (object == objects_.end()) return true;

  answer = serve_block(*object->second);
  return true;
}

int64_t InMemoryFsuipc::serve_block(std::span<uint8_t> block) {
  if (faults.answer) {
    process_block(block, false);
    return *faults.answer;
  }
  const bool good = process_block(block, true);
  if (after_process) after_process(block);
  return good ? 1 : 0;
}

bool InMemoryFsuipc::process_block(std::span<uint8_t> block, bool perform) {
  // Kept as it arrived: reads are filled in place below.
  std::vector<uint8_t> arrived(block.begin(), block.end());
  std::size_t pos = 0;
  bool good = true;
  for (;;) {
    if (pos + 4 > block.size()) {
      good = false;
      break;
    }
    const uint32_t id = get_le32(block, pos);
    if ((id & 0xFF) == 0) {
      pos += 4;
      break;
    }
    const std::size_t header = id == kFsuipcReadId ? kFsuipcReadHeader : kFsuipcWriteHeader;
    if ((id != kFsuipcReadId && id != kFsuipcWriteId) || pos + header > block.size()) {
      good = false;
      break;
    }
    const uint32_t offset = get_le32(block, pos + 4);
    const uint32_t size = get_le32(block, pos + 8);
    const std::size_t data = pos + header;
    if (size > block.size() - data || offset > memory_.size() || size > memory_.size() - offset) {
      good = false;
      break;
    }
    auto data_it = block.begin() + static_cast<std::ptrdiff_t>(data);
    auto memory_it = memory_.begin() + offset;
    if (perform && id == kFsuipcReadId) {
      std::copy_n(memory_it, size, data_it);
    } else if (perform) {
      std::copy_n(data_it, size, memory_it);
      writes.push_back(
          Write{static_cast<uint16_t>(offset), std::vector<uint8_t>(data_it, data_it + size)});
      if (offset <= 0x330A && offset + size >= 0x330C) {
        library_version = static_cast<uint16_t>(read_offset(0x330A, 2));
      }
      write_offset(0x3304, 4, fsuipc_version_);
      write_offset(0x3308, 4, fs_version_);
    }
    pos = data + size;
  }
  arrived.resize(std::min(pos, arrived.size()));
  blocks.push_back(std::move(arrived));
  return good;
}

}  // namespace tarvion
