// Throughput of the ZEMP receive side on a stream of "Arn.Resp:" lines, cut
// into arrivals as TCP reads would deliver them; reported in bytes per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/virtual/in_memory_socket.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "zemp/zemp_link.h"
#include "zemp/zemp_receive_buffer.h"

namespace {

// About 1 MiB of values lines as a busy server would send them.
std::string values_stream() {
  const std::string lines[] = {
      "Arn.Resp:256=11800:\r\n",
      "Arn.Resp:256=12150:254=10800:311=7700:258=379:257=13697:255=11795:259=175:\r\n",
      "Arn.Resp:311=1200:\r\n",
      "Arn.Resp: 257 = 11802 : 255 = 10800 :\r\n",
  };
  std::string stream;
  for (size_t i = 0; stream.size() < (1u << 20); ++i) stream += lines[i % 4];
  return stream;
}

void BM_OnDataReceived(benchmark::State& state) {
  const std::string stream = values_stream();
  const size_t chunk = static_cast<size_t>(state.range(0));
  int64_t sum = 0;
  const tarvion::ZempReceiveActions actions{
      [](std::string_view) {},
      [&sum](int32_t number, int32_t value) { sum += number + value; },
  };
  tarvion::ZempReceiveBuffer buffer;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += chunk) {
      buffer.on_data_received(std::string_view(stream).substr(at, chunk), actions);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_OnDataReceived)->Arg(1460)->Arg(4096)->Arg(65536)->Arg(1 << 20);

// The same stream through the whole link: socket read event, receive buffer,
// variable look-up and change detection.
void BM_LinkRead(benchmark::State& state) {
  const std::string stream = values_stream();
  const size_t chunk = static_cast<size_t>(state.range(0));
  tarvion::VirtualMainThread main_thread;
  tarvion::VirtualClock clock;
  tarvion::InMemorySocket socket(clock);
  tarvion::RadioState radio;
  tarvion::ProgramFlags flags;
  tarvion::ZempLink link(
      main_thread, socket, radio, flags,
      tarvion::ZempHooks{[](const std::string&) {}, [](bool) {}, [](const std::string&) {}});
  link.create_zemp_variables();
  socket.open();
  socket.peer_accept();
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += chunk) {
      socket.peer_send(std::string_view(stream).substr(at, chunk));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_LinkRead)->Arg(4096);

}  // namespace
