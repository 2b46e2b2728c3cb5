// PutFile throughput and per-file cost on loopback, measured side by side in
// one run:
//   - a 64 MiB file put to a simulated unit through work buffers of several
//     sizes, and the same bytes copied over a plain TCP connection (64 KiB
//     sends, and 1500-byte sends like the put's pieces), so the ratio shows
//     what the protocol costs on top of TCP. The CPU column is the sending
//     thread's alone (the receiving peer runs on a thread of its own), so
//     it gives the sender's CPU per 64 MiB;
//   - a release of 200 files of 1 KiB over one connection, reported as the
//     time per file: a message that waits on the network stack (Nagle's
//     algorithm against a delayed acknowledgement) shows as tens of
//     milliseconds per file.
// The unit is a minimal one in this process (it reads and discards, so it
// costs the sender as little as the plain copy's receiver does). With
// ZEQ_BENCH_UNIT=<address> the put benchmarks also run against that unit on
// port 4877, e.g. a unitsim unit (bench/putfile_bench.sh starts one).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/LocalFile.h"
#include "platform/Sockets.h"
#include "transfer/FileProtocol.h"
#include "transfer/RemoteFsysManipulator.h"

namespace {

constexpr std::size_t kBigFile = 64u << 20;
constexpr int kReleaseFiles = 200;
constexpr std::size_t kSmallFile = 1024;

std::uint32_t Loopback() {
  std::uint32_t address = 0;
  platform::ParseAddress("127.0.0.1", &address);
  return address;
}

bool ReceiveExactly(platform::SocketHandle socket, std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const int got =
        platform::Recv(socket, data, static_cast<int>(std::min<std::size_t>(count, 1 << 20)));
    if (got <= 0) return false;
    data += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

// Builds the accepted reply: check value over bytes 4..11, length 12.
std::vector<std::uint8_t> AcceptedReply() {
  std::vector<std::uint8_t> reply(kReplySize, 0);
  reply[4] = static_cast<std::uint8_t>(kReplySize);
  SealMessage(reply.data());
  return reply;
}

// A listening peer on 127.0.0.1 that serves connections one after another on
// its own thread: as a file-service unit, or as the receiving end of a plain
// copy that reads until the sender closes.
class Peer {
 public:
  explicit Peer(bool unit) : unit_(unit) {
    listener_ = platform::OpenTcpSocket();
    platform::Bind(listener_, Loopback(), 0);
    platform::Listen(listener_, 4);
    platform::GetLocalAddress(listener_, nullptr, &port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~Peer() {
    stop_ = true;
    thread_.join();
    platform::CloseSocket(listener_);
  }
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    std::vector<std::uint8_t> buffer(1 << 20);
    while (!stop_) {
      if (platform::WaitReadable(listener_, 50) != 1) continue;
      const platform::SocketHandle socket = platform::Accept(listener_, nullptr);
      if (socket == platform::kInvalidSocket) continue;
      platform::SetNoDelay(socket, true);
      if (unit_) {
        serve_unit(socket, buffer);
      } else {
        while (platform::Recv(socket, buffer.data(), static_cast<int>(buffer.size())) > 0) {
        }
      }
      platform::CloseSocket(socket);
    }
  }

  static void serve_unit(platform::SocketHandle socket, std::vector<std::uint8_t>& buffer) {
    const std::vector<std::uint8_t> reply = AcceptedReply();
    std::uint8_t head[6];
    while (ReceiveExactly(socket, head, 6)) {
      const std::size_t length = head[4] | (head[5] << 8);
      if (length < 38 || !ReceiveExactly(socket, buffer.data(), length - 6)) return;
      const std::size_t size = buffer[8] | (buffer[9] << 8) | (buffer[10] << 16) |
                               (static_cast<std::size_t>(buffer[11]) << 24);
      platform::Send(socket, reply.data(), static_cast<int>(reply.size()));
      for (std::size_t left = size + kTrailerSize; left > 0;) {
        const std::size_t part = std::min(left, buffer.size());
        if (!ReceiveExactly(socket, buffer.data(), part)) return;
        left -= part;
      }
      platform::Send(socket, reply.data(), static_cast<int>(reply.size()));
    }
  }

  bool unit_;
  platform::SocketHandle listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The benchmark's files, written once.
struct Files {
  Files() {
    folder = std::filesystem::temp_directory_path() / "zeq_putfile_bench";
    std::filesystem::create_directories(folder);
    big = write("big.bin", kBigFile);
    for (int i = 0; i < kReleaseFiles; ++i)
      small.push_back(write("s" + std::to_string(i), kSmallFile));
  }
  ~Files() { std::filesystem::remove_all(folder); }
  std::u16string write(const std::string& name, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 4093);
    const std::string path = (folder / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return std::u16string(path.begin(), path.end());
  }
  std::filesystem::path folder;
  std::u16string big;
  std::vector<std::u16string> small;
};

Files& TheFiles() {
  static Files files;
  return files;
}

// Connects to the in-process unit, or to $ZEQ_BENCH_UNIT on port 4877.
bool ConnectUnit(RemoteFsysManipulator& link, Peer* local) {
  if (local != nullptr) {
    link.setPortForTesting(local->port());
    return link.Connect(Loopback()) == 0;
  }
  std::uint32_t address = 0;
  const char* text = std::getenv("ZEQ_BENCH_UNIT");
  return text != nullptr && platform::ParseAddress(text, &address) && link.Connect(address) == 0;
}

void PutBigFile(benchmark::State& state, Peer* local) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    RemoteFsysManipulator link;
    if (!ConnectUnit(link, local)) return state.SkipWithError("no unit");
    if (link.PutFile(TheFiles().big, "/bench/big.bin", 0, buffer.data(), buffer.size()) != 0) {
      return state.SkipWithError("put failed");
    }
    link.Close();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigFile));
}

void PutRelease(benchmark::State& state, Peer* local) {
  std::vector<std::uint8_t> buffer(RemoteFsysManipulator::kBufferSize);
  for (auto _ : state) {
    RemoteFsysManipulator link;
    if (!ConnectUnit(link, local)) return state.SkipWithError("no unit");
    for (int i = 0; i < kReleaseFiles; ++i) {
      if (link.PutFile(TheFiles().small[i], "/bench/s" + std::to_string(i), 0, buffer.data(),
                       buffer.size()) != 0) {
        return state.SkipWithError("put failed");
      }
    }
    link.Close();
  }
  // Microseconds per file: the rate of (files / 10^6), inverted.
  state.counters["per_file_us"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kReleaseFiles) / 1e6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PutFile64MiB(benchmark::State& state) {
  Peer unit(true);
  PutBigFile(state, &unit);
}

void BM_PutRelease200x1KiB(benchmark::State& state) {
  Peer unit(true);
  PutRelease(state, &unit);
}

void BM_PutFile64MiB_ExternalUnit(benchmark::State& state) { PutBigFile(state, nullptr); }
void BM_PutRelease200x1KiB_ExternalUnit(benchmark::State& state) { PutRelease(state, nullptr); }

// The same 64 MiB read from the same file and sent over plain TCP in pieces
// of state.range(0) bytes.
void BM_PlainTcpCopy64MiB(benchmark::State& state) {
  Peer sink(false);
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> buffer(piece);
  for (auto _ : state) {
    const platform::SocketHandle socket = platform::OpenTcpSocket();
    platform::SetNoDelay(socket, true);
    if (platform::Connect(socket, Loopback(), sink.port()) != 0) {
      return state.SkipWithError("connect failed");
    }
    platform::LocalFile file;
    file.Open(TheFiles().big);
    for (int got; (got = file.Read(buffer.data(), static_cast<int>(piece))) > 0;) {
      if (platform::Send(socket, buffer.data(), got) != got)
        return state.SkipWithError("send failed");
    }
    platform::ShutdownSocket(socket);
    // Waits for the sink's close, so the copy is counted to its last byte.
    std::uint8_t byte;
    platform::Recv(socket, &byte, 1);
    platform::CloseSocket(socket);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigFile));
}

BENCHMARK(BM_PlainTcpCopy64MiB)
    ->Arg(64 * 1024)
    ->Arg(1500)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// The work buffer's size: one piece and the trailer (a block per piece, as
// before blocks), the install job's buffer, and a larger one.
BENCHMARK(BM_PutFile64MiB)
    ->Arg(RemoteFsysManipulator::kMinBufferSize)
    ->Arg(RemoteFsysManipulator::kBufferSize)
    ->Arg(4 * RemoteFsysManipulator::kBufferSize)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PutRelease200x1KiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  platform::StartSockets(2, 2);
  // Written before the first measurement, so that no benchmark's first
  // repetition counts the writing of 64 MiB.
  TheFiles();
  if (std::getenv("ZEQ_BENCH_UNIT") != nullptr) {
    benchmark::RegisterBenchmark("BM_PutFile64MiB_ExternalUnit", BM_PutFile64MiB_ExternalUnit)
        ->Arg(RemoteFsysManipulator::kBufferSize)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_PutRelease200x1KiB_ExternalUnit",
                                 BM_PutRelease200x1KiB_ExternalUnit)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  platform::CleanupSockets();
  return 0;
}
