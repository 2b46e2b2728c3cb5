// CPU cost of install jobs that sit in TelnetSession::WaitFor for a prompt
// that does not come (a slow unit, or one that never prompts). A wait sleeps
// until its receive thread signals new bytes or the connection's end, so
// this should cost next to nothing at any N; a wait that polled would show
// here as cores kept busy. N sessions are connected to a loopback listener
// that accepts and stays silent, N job threads wait, and the benchmark
// measures the whole process's CPU time over one second of waiting.
// Counters: cores kept busy, and CPU per session as a percentage of one
// core. Compare the N values side by side in one run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Sockets.h"
#include "telnet/TelnetSession.h"

namespace {

std::uint32_t Loopback() {
  std::uint32_t address = 0;
  platform::ParseAddress("127.0.0.1", &address);
  return address;
}

// A listener that accepts every connection and never sends anything.
class SilentUnit {
 public:
  explicit SilentUnit(int connections) {
    listener_ = platform::OpenTcpSocket();
    platform::Bind(listener_, Loopback(), 0);
    platform::Listen(listener_, connections);
    platform::GetLocalAddress(listener_, nullptr, &port_);
    acceptor_ = std::thread([this, connections] {
      for (int i = 0; i < connections; ++i) {
        const platform::SocketHandle accepted = platform::Accept(listener_, nullptr);
        if (accepted == platform::kInvalidSocket) break;
        accepted_.push_back(accepted);
      }
    });
  }
  ~SilentUnit() {
    acceptor_.join();
    for (platform::SocketHandle socket : accepted_) platform::CloseSocket(socket);
    platform::CloseSocket(listener_);
  }
  std::uint16_t port() const { return port_; }

 private:
  platform::SocketHandle listener_;
  std::uint16_t port_ = 0;
  std::thread acceptor_;
  std::vector<platform::SocketHandle> accepted_;
};

void BM_SessionsWaitingForAPrompt(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  platform::StartSockets(2, 2);
  SilentUnit unit(count);
  std::vector<std::unique_ptr<TelnetSession>> sessions;
  for (int i = 0; i < count; ++i) {
    sessions.push_back(std::make_unique<TelnetSession>("root", "qorvane"));
    if (sessions.back()->Connect(Loopback(), unit.port()) != 1) {
      state.SkipWithError("connect failed");
      return;
    }
  }
  std::vector<std::thread> jobs;
  for (auto& session : sessions) {
    jobs.emplace_back([&session] {
      std::string result;
      session->WaitFor("\n# ", result, "\nlogin:");
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // all waits under way
  double cpuSeconds = 0;
  double wallSeconds = 0;
  for (auto _ : state) {
    const std::clock_t cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cpuSeconds += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    wallSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  }
  // The cancel: the disconnect wakes every wait, which returns 0.
  for (auto& session : sessions) session->Disconnect(0);
  for (std::thread& job : jobs) job.join();
  sessions.clear();
  state.counters["cores_busy"] = cpuSeconds / wallSeconds;
  state.counters["cpu_per_session_pct"] = 100.0 * cpuSeconds / wallSeconds / count;
}

}  // namespace

BENCHMARK(BM_SessionsWaitingForAPrompt)
    ->Arg(1)
    ->Arg(50)
    ->Arg(200)
    ->Arg(1000)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
