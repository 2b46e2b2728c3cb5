// The receiver on loopback inside the private namespace: whole datagrams in
// order on pool threads, receiving that goes on past empty, oversized and
// failing ones, Stop, and a discovery-sized burst delivered whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ErrorMessage.h"
#include "IUDPReceiver.h"
#include "UDPReceiver.h"
#include "VEVException.h"
#include "iThreadPool.h"
#include "udp_test_network.h"

namespace {

using udptest::Address;

constexpr std::uint16_t kPort = 55330;

// Collects what the receiver hands over, with the thread it came on.
class Sink : public ZEQ::IUDPReceiver {
 public:
  explicit Sink(ZEQ::ThreadPool* pool) : pool_(pool) {}

  void PacketReceived(const void* data, int size, const platform::SocketAddressIn* from) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    datagrams_.emplace_back(bytes, bytes + size);
    sources_.push_back(from->address);
    if (!pool_->IsCurrentThreadInThreadPool()) ++outsidePool_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !blocked_; });
    if (throwNext_) {
      throwNext_ = false;
      throw VEVException("sink refused");
    }
  }

  // Waits (up to a generous bound, so that a fault fails instead of hanging)
  // until `count` datagrams have arrived.
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return datagrams_.size() >= count; });
  }
  std::vector<std::vector<std::uint8_t>> Datagrams() {
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_;
  }
  std::vector<std::uint32_t> Sources() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sources_;
  }
  int OutsidePool() {
    std::lock_guard<std::mutex> lock(mutex_);
    return outsidePool_;
  }
  void Block(bool blocked) {
    std::lock_guard<std::mutex> lock(mutex_);
    blocked_ = blocked;
    changed_.notify_all();
  }
  void ThrowNext() {
    std::lock_guard<std::mutex> lock(mutex_);
    throwNext_ = true;
  }

 private:
  ZEQ::ThreadPool* pool_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<std::uint8_t>> datagrams_;
  std::vector<std::uint32_t> sources_;
  int outsidePool_ = 0;
  bool blocked_ = false;
  bool throwNext_ = false;
};

// A plain socket that sends to the receiver's port on 127.0.0.1.
class Sender {
 public:
  Sender() : socket_(platform::OpenUdpSocket()) {
    platform::Bind(socket_, Address("127.0.0.1"), 0);
  }
  ~Sender() { platform::CloseSocket(socket_); }
  int Send(const std::vector<std::uint8_t>& bytes, std::uint16_t port = kPort) {
    return platform::SendTo(socket_, bytes.data(), static_cast<int>(bytes.size()),
                            Address("127.0.0.1"), port);
  }

 private:
  platform::SocketHandle socket_;
};

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

class UDPReceiverTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    pool_.SetWorkerThreadCount(3);
    ASSERT_EQ(pool_.Start(), 0);
  }
  void TearDown() override { pool_.Stop(); }

  ZEQ::ThreadPool pool_;
  Sink sink_{&pool_};
  Sender sender_;
};

TEST_F(UDPReceiverTest, DeliversDatagramsUpTo2048BytesWholeAndInOrderOnPoolThreads) {
  ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
  EXPECT_EQ(receiver.getPort(), kPort);
  receiver.setPort(kPort + 1);
  EXPECT_EQ(receiver.getPort(), kPort);
  const std::vector<std::size_t> sizes = {1, 100, 1500, 2047, 2048, 5};
  std::vector<std::vector<std::uint8_t>> sent;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    sent.push_back(Pattern(sizes[i], static_cast<std::uint8_t>(i)));
    ASSERT_EQ(sender_.Send(sent.back()), static_cast<int>(sizes[i]));
    // Every other one after a pause, so that receives pending in the system
    // and receives that find their datagram waiting are both covered.
    if (i % 2 == 1) {
      ASSERT_TRUE(sink_.WaitFor(i + 1));
    }
  }
  ASSERT_TRUE(sink_.WaitFor(sent.size()));
  EXPECT_EQ(sink_.Datagrams(), sent);
  for (std::uint32_t source : sink_.Sources()) EXPECT_EQ(source, Address("127.0.0.1"));
  EXPECT_EQ(sink_.OutsidePool(), 0);
  receiver.Stop();
}

TEST_F(UDPReceiverTest, EmptyAndOversizedDatagramsAreDroppedAndReceivingGoesOn) {
  ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
  // A burst that waits in the socket while the first datagram is handled...
  sink_.Block(true);
  ASSERT_EQ(sender_.Send(Pattern(10, 1)), 10);
  ASSERT_TRUE(sink_.WaitFor(1));
  const std::vector<std::size_t> junk = {0, 2049, 0, 4000, 65000, 0};
  for (std::size_t size : junk) ASSERT_EQ(sender_.Send(Pattern(size, 9)), static_cast<int>(size));
  ASSERT_EQ(sender_.Send(Pattern(20, 2)), 20);
  sink_.Block(false);
  ASSERT_TRUE(sink_.WaitFor(2));
  // ...and the same arriving one at a time on a pending receive.
  for (std::size_t size : junk) {
    ASSERT_EQ(sender_.Send(Pattern(size, 9)), static_cast<int>(size));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(sender_.Send(Pattern(30, 3)), 30);
  ASSERT_TRUE(sink_.WaitFor(3));
  EXPECT_EQ(sink_.Datagrams(), (std::vector<std::vector<std::uint8_t>>{
                                   Pattern(10, 1), Pattern(20, 2), Pattern(30, 3)}));
  receiver.Stop();
}

TEST_F(UDPReceiverTest, AnExceptionFromTheSinkDoesNotEndReceiving) {
  FILE* messages = std::tmpfile();
  ZEQ::SetMessageOutputStream(messages);
  {
    ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
    sink_.ThrowNext();
    ASSERT_EQ(sender_.Send(Pattern(8, 1)), 8);
    ASSERT_EQ(sender_.Send(Pattern(8, 2)), 8);
    EXPECT_TRUE(sink_.WaitFor(2));
    receiver.Stop();
  }
  // The next datagram can arrive before the worker has reported the
  // exception; the pool's end waits for that report.
  pool_.Stop();
  ZEQ::SetMessageOutputStream(nullptr);
  std::rewind(messages);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, messages), nullptr);
  EXPECT_NE(std::string(line).find(",57,iThreadPool,sink refused"), std::string::npos) << line;
  std::fclose(messages);
}

TEST_F(UDPReceiverTest, StopReturnsIsIdempotentAndEndsDelivery) {
  ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
  ASSERT_EQ(sender_.Send(Pattern(4, 1)), 4);
  ASSERT_TRUE(sink_.WaitFor(1));
  receiver.Stop();
  receiver.Stop();
  // The port is free again, and nothing more reaches the sink.
  udptest::DatagramCapture capture(kPort);
  ASSERT_EQ(sender_.Send(Pattern(4, 2)), 4);
  EXPECT_EQ(capture.Collect().size(), 1u);
  EXPECT_EQ(sink_.Datagrams().size(), 1u);
}

TEST_F(UDPReceiverTest, StopWaitsForTheCallbackInProgress) {
  ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
  sink_.Block(true);
  ASSERT_EQ(sender_.Send(Pattern(4, 1)), 4);
  ASSERT_TRUE(sink_.WaitFor(1));
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    receiver.Stop();
    stopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(stopped.load());
  sink_.Block(false);
  stopper.join();
  EXPECT_TRUE(stopped.load());
}

TEST_F(UDPReceiverTest, DestroyingWithoutStopStopsFirst) {
  {
    ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
    ASSERT_EQ(sender_.Send(Pattern(4, 1)), 4);
    ASSERT_TRUE(sink_.WaitFor(1));
  }
  // A new receiver can have the port, and the pool still serves it.
  ZEQ::UDPReceiver again(kPort, &sink_, &pool_);
  ASSERT_EQ(sender_.Send(Pattern(4, 2)), 4);
  EXPECT_TRUE(sink_.WaitFor(2));
}

TEST_F(UDPReceiverTest, StopRacingArrivingDatagramsNeverHangsOrLeaksADelivery) {
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    Sender own;
    while (flooding) own.Send(Pattern(64, 5));
  });
  for (int round = 0; round < 40; ++round) {
    const std::size_t before = sink_.Datagrams().size();
    ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
    ASSERT_TRUE(sink_.WaitFor(before + 1));
    receiver.Stop();
    // After Stop no callback runs any more.
    const std::size_t after = sink_.Datagrams().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(sink_.Datagrams().size(), after);
  }
  flooding = false;
  flood.join();
}

TEST_F(UDPReceiverTest, BindingABusyPortThrowsWithThePortAndTheCode) {
  // A socket without address reuse holds the port.
  const platform::SocketHandle holder = platform::OpenUdpSocket();
  ASSERT_EQ(platform::Bind(holder, 0, kPort + 7), 0);
  try {
    ZEQ::UDPReceiver receiver(kPort + 7, &sink_, &pool_);
    ADD_FAILURE() << "no exception";
  } catch (const VEVException& exception) {
    const std::string prefix = "broadcaster -> bind to UDP port 55337 failed (";
    EXPECT_EQ(exception.message.compare(0, prefix.size(), prefix), 0) << exception.message;
    EXPECT_NE(exception.message, prefix + "0)");
  }
  platform::CloseSocket(holder);
}

TEST_F(UDPReceiverTest, BurstOfAThousandRepliesIsDeliveredWhole) {
  ZEQ::UDPReceiver receiver(kPort, &sink_, &pool_);
  int bufferBytes = 0;
  platform::GetReceiveBufferSize(receiver.getSocketHandle(), &bufferBytes);
  constexpr int kBurst = 1000;
  std::vector<std::uint8_t> reply = Pattern(120, 0);
  for (int i = 0; i < kBurst; ++i) {
    std::memcpy(reply.data(), &i, sizeof i);
    ASSERT_EQ(sender_.Send(reply), 120);
  }
  const bool whole = sink_.WaitFor(kBurst);
  const std::vector<std::vector<std::uint8_t>> received = sink_.Datagrams();
  std::printf("receive buffer %d bytes, %zu of %d datagrams delivered\n", bufferBytes,
              received.size(), kBurst);
  RecordProperty("receive_buffer_bytes", bufferBytes);
  RecordProperty("delivered", static_cast<int>(received.size()));
  EXPECT_GE(bufferBytes, 2 * 1024 * 1024);
  ASSERT_TRUE(whole);
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kBurst));
  for (int i = 0; i < kBurst; ++i) {
    int sequence = -1;
    std::memcpy(&sequence, received[static_cast<std::size_t>(i)].data(), sizeof sequence);
    ASSERT_EQ(sequence, i);
  }
  receiver.Stop();
}

}  // namespace
