#include "pipe_device.h"

namespace tarvion::test {
namespace {

// Instances kept listening. Every open takes one, and a closed one is
// replaced only when the server thread gets to run; the constructor makes
// them all, so a test's first eight opens never find the device busy (a plug
// cycle takes five: identification, lengths, read handle, product, write).
constexpr std::size_t kListening = 8;
constexpr DWORD kBufferBytes = 64 * 1024;

}  // namespace

struct PipeDevice::Instance {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED overlapped{};
  bool connected = false;
  bool io_pending = false;  // a connect or read the system still owns
  uint8_t buffer[512] = {};

  ~Instance() {
    // Nothing of the system may still write into overlapped or buffer.
    if (io_pending) {
      CancelIoEx(pipe, &overlapped);
      DWORD bytes = 0;
      GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
    }
    CloseHandle(pipe);
    CloseHandle(event);
  }
};

PipeDevice::PipeDevice(const std::string& name) : path_("\\\\.\\pipe\\" + name) {
  wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // Listening before the constructor returns: the device is "present" at once.
  for (std::size_t i = 0; i < kListening; ++i) add_listening();
  thread_ = std::thread([this] { run(); });
}

PipeDevice::~PipeDevice() {
  unplug();
  CloseHandle(wake_);
}

void PipeDevice::unplug() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  SetEvent(wake_);
  if (thread_.joinable()) thread_.join();
}

void PipeDevice::send(const Bytes& report) {
  {
    std::lock_guard lock(mutex_);
    outgoing_.push_back(report);
  }
  SetEvent(wake_);
}

std::vector<Bytes> PipeDevice::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

bool PipeDevice::wait_received(std::size_t count, std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return received_.size() >= count; });
}

bool PipeDevice::add_listening() {
  auto* instance = new Instance;
  instance->pipe =
      CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                       PIPE_UNLIMITED_INSTANCES, kBufferBytes, kBufferBytes, 0, nullptr);
  instance->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (instance->pipe == INVALID_HANDLE_VALUE) {
    delete instance;
    return false;
  }
  instance->overlapped.hEvent = instance->event;
  instances_.push_back(instance);
  instance->io_pending = true;
  if (!ConnectNamedPipe(instance->pipe, &instance->overlapped)) {
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
      // A client came between creation and connect: no operation pending.
      instance->io_pending = false;
      instance->overlapped.Internal = 0;
      SetEvent(instance->event);
    } else if (error != ERROR_IO_PENDING) {
      instance->io_pending = false;
      instances_.pop_back();
      delete instance;
      return false;
    }
  }
  return true;
}

bool PipeDevice::start_read(Instance& instance) {
  ResetEvent(instance.event);
  instance.overlapped = OVERLAPPED{};
  instance.overlapped.hEvent = instance.event;
  // Done at once or later, the event is set when it is over.
  instance.io_pending = ReadFile(instance.pipe, instance.buffer, sizeof instance.buffer, nullptr,
                                 &instance.overlapped) ||
                        GetLastError() == ERROR_IO_PENDING;
  return instance.io_pending;
}

void PipeDevice::drop(std::size_t index) {
  Instance* instance = instances_[index];
  instances_.erase(instances_.begin() + static_cast<std::ptrdiff_t>(index));
  delete instance;
}

void PipeDevice::handle(std::size_t index) {
  Instance& instance = *instances_[index];
  DWORD bytes = 0;
  bool ok = GetOverlappedResult(instance.pipe, &instance.overlapped, &bytes, FALSE);
  instance.io_pending = false;
  if (!instance.connected) {
    if (!ok && GetLastError() != ERROR_PIPE_CONNECTED) {
      drop(index);
      return;
    }
    instance.connected = true;
  } else if (ok) {
    {
      std::lock_guard lock(mutex_);
      received_.emplace_back(instance.buffer, instance.buffer + bytes);
    }
    changed_.notify_all();
  } else {
    drop(index);  // the client closed its end (109)
    return;
  }
  if (!start_read(instance)) drop(index);
}

void PipeDevice::drain() {
  for (;;) {
    std::vector<HANDLE> events;
    for (Instance* instance : instances_) events.push_back(instance->event);
    if (events.empty()) return;
    DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, 0);
    if (woke >= WAIT_OBJECT_0 + events.size()) return;
    handle(woke - WAIT_OBJECT_0);
  }
}

void PipeDevice::run() {
  for (;;) {
    std::size_t listening = 0;
    for (Instance* instance : instances_) listening += instance->connected ? 0 : 1;
    while (listening < kListening && add_listening()) ++listening;

    std::vector<HANDLE> waits{wake_};
    for (Instance* instance : instances_) waits.push_back(instance->event);
    DWORD woke =
        WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0) {
      std::size_t index = woke - WAIT_OBJECT_0 - 1;
      if (index >= instances_.size()) break;  // the wait itself failed
      handle(index);
      continue;
    }
    // A client that opened (or closed) the device before the report was sent
    // is seen first, as a device's open handles are.
    drain();
    std::deque<Bytes> reports;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      reports.swap(outgoing_);
    }
    for (const Bytes& report : reports) {
      for (Instance* instance : instances_) {
        if (!instance->connected) continue;
        // The pipe's buffer takes the report at once; nobody has to read it.
        OVERLAPPED write{};
        write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        if (WriteFile(instance->pipe, report.data(), static_cast<DWORD>(report.size()), nullptr,
                      &write) ||
            GetLastError() == ERROR_IO_PENDING) {
          GetOverlappedResult(instance->pipe, &write, &written, TRUE);
        }
        CloseHandle(write.hEvent);
      }
    }
  }
  while (!instances_.empty()) drop(instances_.size() - 1);
}

}  // namespace tarvion::test
