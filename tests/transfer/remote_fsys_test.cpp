// RemoteFsysManipulator against the scripted peer on loopback: the bytes of
// every message on the wire, the pieces and progress calls, several files on
// one connection, each fault of a reply byte for byte, silence, a peer that
// closes mid-file, and Close from another thread during a put.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TestSupport.h"
#include "file_peer.h"
#include "platform/Errors.h"
#include "platform/LocalFile.h"
#include "transfer/Crc32.h"
#include "transfer/FileProtocol.h"
#include "transfer/RemoteFsysManipulator.h"

namespace {

using filetest::Bytes;
using filetest::Damaged;
using filetest::FilePeer;
using filetest::MakeReply;
using filetest::PeerConnection;
using filetest::ReadLe16;
using filetest::ReadLe32;
using filetest::StoredFile;
using Call = std::array<std::uint32_t, 3>;

struct ProgressRecorder : RemoteFsysManipulatorProgressInterface {
  std::vector<Call> calls;
  std::atomic<std::uint32_t> sent{0};
  void ReportProgress(std::uint32_t done, std::uint32_t size, std::uint32_t piece) override {
    calls.push_back({done, size, piece});
    sent = done;
  }
};

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
  return bytes;
}

class RemoteFsysTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    folder_ = testsupport::ScratchDirectory("remote_fsys");
  }

  // Writes a local file and returns its name as PutFile takes it.
  std::u16string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    paths_[std::u16string(path.begin(), path.end())] = path;
    return std::u16string(path.begin(), path.end());
  }

  std::uint32_t UnixTime(const std::u16string& file) {
    const auto written = std::filesystem::last_write_time(paths_[file]);
    const auto system = std::chrono::file_clock::to_sys(written);
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count());
  }

  // Connects the manipulator to the peer with a short reply wait.
  void Connect(FilePeer& peer) {
    link_.setPortForTesting(peer.port());
    link_.setReceiveWaitForTesting(200);
    ASSERT_EQ(link_.Connect(filetest::Loopback()), 0);
  }

  int Put(const std::u16string& file, const std::string& remote, std::uint32_t options = 0) {
    return link_.PutFile(file, remote, options, buffer_.data(), buffer_.size());
  }

  std::string folder_;
  std::map<std::u16string, std::string> paths_;
  RemoteFsysManipulator link_;
  std::array<std::uint8_t, RemoteFsysManipulator::kBufferSize> buffer_{};
};

TEST_F(RemoteFsysTest, PutRequestDataAndTrailerOnTheWire) {
  const Bytes content = Pattern(1501);
  const std::u16string file = WriteFile("wire.bin", content);
  const std::string remote = "/opt/app/wire.bin";
  std::vector<StoredFile> stored;
  FilePeer peer(filetest::AcceptingUnit(1, &stored));
  Connect(peer);
  ProgressRecorder progress;
  link_.SetProgressInterface(&progress);
  EXPECT_EQ(Put(file, remote, 0x1234), 0);
  link_.Close();
  peer.Join();

  ASSERT_EQ(stored.size(), 1u);
  const Bytes& request = stored[0].request;
  const std::size_t n = remote.size();
  ASSERT_EQ(request.size(), 38 + n);
  EXPECT_EQ(ReadLe16(&request[4]), 38 + n);
  EXPECT_EQ(ReadLe32(&request[0]), Crc32(&request[4], 34 + n));
  EXPECT_EQ(request[6], 1);
  EXPECT_EQ(request[7], 0);
  EXPECT_EQ(request[8], 2);
  EXPECT_EQ(request[9], 0x34) << "only the option word's low byte goes out";
  EXPECT_EQ(ReadLe32(&request[10]), 0u);
  EXPECT_EQ(ReadLe32(&request[14]), 1501u);
  EXPECT_EQ(ReadLe32(&request[18]), 0u);
  EXPECT_EQ(ReadLe32(&request[22]), 0u);
  EXPECT_EQ(ReadLe32(&request[26]), 0u);
  EXPECT_EQ(ReadLe32(&request[30]), UnixTime(file));
  EXPECT_EQ(ReadLe16(&request[34]), 511);
  EXPECT_EQ(std::string(request.begin() + 36, request.begin() + 36 + n), remote);
  EXPECT_EQ(request[36 + n], 0);
  EXPECT_EQ(request[37 + n], 0);

  EXPECT_EQ(stored[0].data, content);
  const std::uint32_t check = Crc32(content.data(), content.size());
  EXPECT_EQ(
      stored[0].trailer,
      (Bytes{0, static_cast<std::uint8_t>(check), static_cast<std::uint8_t>(check >> 8),
             static_cast<std::uint8_t>(check >> 16), static_cast<std::uint8_t>(check >> 24)}));
  EXPECT_EQ(progress.calls, (std::vector<Call>{{0, 1501, 0}, {1500, 1501, 1500}, {1501, 1501, 1}}));
}

TEST_F(RemoteFsysTest, PieceBoundaries) {
  struct Case {
    std::size_t size;
    std::vector<Call> calls;
  };
  const Case cases[] = {
      {0, {{0, 0, 0}, {0, 0, 0}}},
      {1500, {{0, 1500, 0}, {1500, 1500, 1500}}},
      {3001, {{0, 3001, 0}, {1500, 3001, 1500}, {3000, 3001, 1500}, {3001, 3001, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const Bytes content = Pattern(c.size);
    const std::u16string file = WriteFile("piece.bin", content);
    std::vector<StoredFile> stored;
    FilePeer peer(filetest::AcceptingUnit(1, &stored));
    Connect(peer);
    ProgressRecorder progress;
    link_.SetProgressInterface(&progress);
    EXPECT_EQ(Put(file, "/p"), 0);
    link_.Close();
    peer.Join();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].data, content);
    EXPECT_EQ(progress.calls, c.calls);
  }
  const std::uint8_t emptyTrailer[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Crc32("", 0), ReadLe32(emptyTrailer + 1));
}

// What the unit sees of a put and what the progress interface is told follow
// 1500-byte pieces, whatever the size of the blocks the file is read and sent
// in: one call for the start, then one per piece with the bytes done so far.
std::vector<Call> PieceProgress(std::uint32_t size) {
  std::vector<Call> calls{{0, size, 0}};
  std::uint32_t remaining = size;
  do {
    const std::uint32_t piece = std::min<std::uint32_t>(remaining, 1500);
    remaining -= piece;
    calls.push_back({size - remaining, size, piece});
  } while (remaining != 0);
  return calls;
}

TEST_F(RemoteFsysTest, LargeFilesKeepTheBytesAndProgressOfPieces) {
  // Sizes around whole blocks of 64 KiB and more, and one of several blocks
  // with a short last piece; through the job's buffer and the least one.
  const std::uint32_t sizes[] = {65535, 65536, 65999, 66000, 66001, 132000, 1048576 + 7};
  for (const std::size_t bufferSize : {buffer_.size(), RemoteFsysManipulator::kMinBufferSize}) {
    for (const std::uint32_t size : sizes) {
      SCOPED_TRACE(testing::Message() << "buffer " << bufferSize << ", file " << size);
      const Bytes content = Pattern(size);
      const std::u16string file = WriteFile("large.bin", content);
      std::vector<StoredFile> stored;
      FilePeer peer(filetest::AcceptingUnit(1, &stored));
      Connect(peer);
      // The peer checks a megabyte's check value before its final reply,
      // which takes longer than the short wait under a thread sanitizer.
      link_.setReceiveWaitForTesting(10000);
      ProgressRecorder progress;
      link_.SetProgressInterface(&progress);
      EXPECT_EQ(link_.PutFile(file, "/large", 0, buffer_.data(), bufferSize), 0);
      link_.Close();
      peer.Join();
      ASSERT_EQ(stored.size(), 1u);
      EXPECT_EQ(ReadLe32(&stored[0].request[14]), size);
      EXPECT_TRUE(stored[0].data == content);
      EXPECT_EQ(ReadLe32(&stored[0].trailer[1]), Crc32(content.data(), content.size()));
      EXPECT_TRUE(progress.calls == PieceProgress(size)) << progress.calls.size() << " calls";
    }
  }
}

TEST_F(RemoteFsysTest, BufferBelowOnePieceAndTrailerIsRefusedUnsent) {
  const std::u16string file = WriteFile("small-buffer.bin", Pattern(3));
  bool nothingSent = false;
  FilePeer peer([&](PeerConnection& unit) { nothingSent = unit.ReadsEndOfStream(); });
  Connect(peer);
  EXPECT_EQ(link_.PutFile(file, "/s", 0, buffer_.data(), RemoteFsysManipulator::kMinBufferSize - 1),
            -1);
  link_.Close();
  peer.Join();
  EXPECT_TRUE(nothingSent);
}

TEST_F(RemoteFsysTest, FileShortenedDuringThePutSendsItsWholePiecesAndFails) {
  // The file loses its end after the request went out: the pieces that could
  // still be read whole go out and are reported, then the put fails.
  const Bytes content = Pattern(200000);
  const std::u16string file = WriteFile("shrinking.bin", content);
  constexpr std::size_t kLeft = 70000;
  bool truncated = false;
  Bytes received;
  bool endOfStream = false;
  FilePeer peer([&](PeerConnection& unit) {
    unit.ReadMessage();
    std::error_code error;
    std::filesystem::resize_file(paths_[file], kLeft, error);
    truncated = !error;
    unit.Send(MakeReply(0));
    received = unit.Read(kLeft / 1500 * 1500);
    endOfStream = unit.ReadsEndOfStream();
  });
  Connect(peer);
  ProgressRecorder progress;
  link_.SetProgressInterface(&progress);
  const int result = Put(file, "/shrinking");
  link_.Close();
  peer.Join();
  // Windows refuses to shorten a file that is open for reading.
  if (!truncated) GTEST_SKIP() << "the system refused to shorten the open file";
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(received == Bytes(content.begin(), content.begin() + kLeft / 1500 * 1500));
  EXPECT_TRUE(endOfStream) << "nothing follows the last whole piece";
  std::vector<Call> expected = PieceProgress(200000);
  expected.resize(1 + kLeft / 1500);
  EXPECT_TRUE(progress.calls == expected) << progress.calls.size() << " calls";
}

TEST_F(RemoteFsysTest, SeveralFilesOverOneConnection) {
  const Bytes a = Pattern(10), b = Pattern(4000), c = Pattern(0);
  const std::u16string files[] = {WriteFile("a", a), WriteFile("b", b), WriteFile("c", c)};
  std::vector<StoredFile> stored;
  FilePeer peer(filetest::AcceptingUnit(3, &stored));
  Connect(peer);
  EXPECT_EQ(Put(files[0], "/x/a"), 0);
  EXPECT_EQ(Put(files[1], "/x/b"), 0);
  EXPECT_EQ(Put(files[2], "/x/c"), 0);
  link_.Close();
  peer.Join();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].data, a);
  EXPECT_EQ(stored[1].data, b);
  EXPECT_EQ(stored[2].data, c);
  EXPECT_EQ(std::string(stored[1].request.begin() + 36, stored[1].request.end() - 2), "/x/b");
}

TEST_F(RemoteFsysTest, MissingLocalFileSendsTheErrorNoticeAndFails) {
  Bytes notice;
  bool nothingElse = false;
  FilePeer peer([&](PeerConnection& unit) {
    notice = unit.ReadMessage();
    nothingElse = unit.ReadsEndOfStream();
  });
  Connect(peer);
  const std::string missing = folder_ + "/no-such-file";
  EXPECT_EQ(Put(std::u16string(missing.begin(), missing.end()), "/x"),
            platform::kFileErrorNotFound);
  link_.Close();
  peer.Join();
  const Bytes expected{0xea, 0xcd, 0x7e, 0x7a, 0x0c, 0x00, 0x07, 0x00, 0x02, 0x00, 0x00, 0x00};
  EXPECT_EQ(notice, expected);
  EXPECT_TRUE(nothingElse) << "no data and no trailer follow the notice";
}

TEST_F(RemoteFsysTest, RemoteNameTooLongIsRefusedUnsent) {
  const std::u16string file = WriteFile("long.bin", Pattern(3));
  bool nothingSent = false;
  FilePeer peer([&](PeerConnection& unit) { nothingSent = unit.ReadsEndOfStream(); });
  Connect(peer);
  EXPECT_EQ(Put(file, std::string(kMaxRemoteNameLength + 1, 'n')), kFileNameTooLong);
  link_.Close();
  peer.Join();
  EXPECT_TRUE(nothingSent);
}

// A reply fault on the put request, and what the put returns for it.
struct ReplyFault {
  const char* name;
  Bytes reply;
  int result;
};

TEST_F(RemoteFsysTest, RequestReplyFaultsKeepTheConnectionOpen) {
  const ReplyFault faults[] = {
      {"wrong check value", Damaged(MakeReply(0)), kFileReplyBadCheck},
      // Only the header is sent: reading the 5 bytes the length announces
      // beyond it would end in a time-out instead.
      {"length 13", filetest::HeaderOnly(MakeReply(0, 0, 13)), kFileReplyBadLength},
      {"error flag with status 0", MakeReply(0, 1), kFileReplyErrorFlag},
      {"unit's status", MakeReply(0x0BADF00D), 0x0BADF00D},
  };
  const std::u16string file = WriteFile("fault.bin", Pattern(100));
  for (const ReplyFault& fault : faults) {
    SCOPED_TRACE(fault.name);
    std::vector<StoredFile> stored;
    FilePeer peer([&](PeerConnection& unit) {
      unit.ReadMessage();
      unit.Send(fault.reply);
      // The same connection then carries a normal put.
      filetest::AcceptingUnit(1, &stored)(unit);
    });
    Connect(peer);
    EXPECT_EQ(Put(file, "/f"), fault.result);
    EXPECT_EQ(Put(file, "/f"), 0);
    link_.Close();
    peer.Join();
    EXPECT_EQ(stored.size(), 1u);
  }
}

TEST_F(RemoteFsysTest, FinalReplyStatusIsTheResult) {
  const std::u16string file = WriteFile("final.bin", Pattern(20));
  FilePeer peer([](PeerConnection& unit) {
    unit.ReadMessage();
    unit.Send(MakeReply(0));
    unit.Read(20 + 5);
    unit.Send(MakeReply(17));
  });
  Connect(peer);
  EXPECT_EQ(Put(file, "/f"), 17);
  link_.Close();
}

TEST_F(RemoteFsysTest, ShortReplyIsMalformedAndNothingMoreIsRead) {
  // Replies of 10 and 8 bytes with valid check values over their bytes, and
  // an 8-byte header announcing 4: none has a status word. Waiting for the
  // missing bytes would end in a time-out instead.
  for (std::uint16_t length : {10, 8, 4}) {
    SCOPED_TRACE(length);
    const std::u16string file = WriteFile("short.bin", Pattern(5));
    FilePeer peer([length](PeerConnection& unit) {
      unit.ReadMessage();
      unit.Send(MakeReply(0, 0, length));
      unit.ReadsEndOfStream();
    });
    Connect(peer);
    EXPECT_EQ(Put(file, "/s"), kFileReplyBadLength);
    link_.Close();
    peer.Join();
  }
}

TEST_F(RemoteFsysTest, SilentUnitFailsAfterTheWaitAndClosesTheConnection) {
  const std::u16string file = WriteFile("silent.bin", Pattern(5));
  bool closedByInstaller = false;
  FilePeer peer([&](PeerConnection& unit) {
    unit.ReadMessage();
    closedByInstaller = unit.ReadsEndOfStream(5000);
  });
  Connect(peer);
  EXPECT_EQ(Put(file, "/s"), -1);
  peer.Join();
  EXPECT_TRUE(closedByInstaller);
  // The connection is closed: the next put fails at once in its send.
  EXPECT_NE(Put(file, "/s"), 0);
}

TEST_F(RemoteFsysTest, PartialReplyThenSilence) {
  const std::u16string file = WriteFile("partial.bin", Pattern(5));
  FilePeer peer([](PeerConnection& unit) {
    unit.ReadMessage();
    const Bytes reply = MakeReply(0);
    unit.Send(Bytes(reply.begin(), reply.begin() + 10));
    unit.ReadsEndOfStream();
  });
  Connect(peer);
  EXPECT_EQ(Put(file, "/s"), -1);
  peer.Join();
}

TEST_F(RemoteFsysTest, UnitClosingMidFileFailsThePut) {
  const std::u16string file = WriteFile("mid.bin", Pattern(64 * 1024));
  FilePeer peer([](PeerConnection& unit) {
    unit.ReadMessage();
    unit.Send(MakeReply(0));
    unit.Read(3000);
    unit.Close();
  });
  Connect(peer);
  EXPECT_NE(Put(file, "/m"), 0);
  link_.Close();
}

TEST_F(RemoteFsysTest, CloseFromAnotherThreadAbortsAWaitForAReply) {
  const std::u16string file = WriteFile("abort.bin", Pattern(5));
  std::atomic<bool> requested{false};
  FilePeer peer([&](PeerConnection& unit) {
    unit.ReadMessage();
    requested = true;
    unit.ReadsEndOfStream(10000);
  });
  Connect(peer);
  link_.setReceiveWaitForTesting(RemoteFsysManipulator::kReceiveWaitMs);
  std::thread canceller([&] {
    while (!requested) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    link_.Close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(Put(file, "/a"), 0);
  // Generous: a put that ignored the Close would sit out the 30-second wait.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  canceller.join();
  peer.Join();
}

// The unit accepts a put's request and then reads nothing more until done,
// so the data sends block once the socket buffers are full.
void AcceptThenStopReading(PeerConnection& unit, const std::atomic<bool>& done) {
  unit.ReadMessage();
  unit.Send(MakeReply(0));
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST_F(RemoteFsysTest, CloseFromAnotherThreadAbortsABlockedSend) {
  const std::u16string file = WriteFile("big.bin", Pattern(48 * 1024 * 1024));
  std::atomic<bool> done{false};
  FilePeer peer([&](PeerConnection& unit) { AcceptThenStopReading(unit, done); });
  Connect(peer);
  // A wait long enough that only the Close can end the send.
  link_.setReceiveWaitForTesting(60000);
  ProgressRecorder progress;
  link_.SetProgressInterface(&progress);
  std::thread canceller([&] {
    // Waits until the progress has stood still for a while: the put is stuck.
    std::uint32_t last = 0;
    for (int still = 0; still < 20;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const std::uint32_t now = progress.sent;
      still = now == last && now != 0 ? still + 1 : 0;
      last = now;
    }
    link_.Close();
  });
  EXPECT_NE(Put(file, "/big"), 0);
  EXPECT_LT(progress.sent.load(), 48u * 1024 * 1024);
  canceller.join();
  done = true;
  peer.Join();
}

// A unit that stops taking data (a cable pulled mid-file looks the same)
// fails the put once the send has made no progress for the reply wait, and
// the connection, with a message cut short on it, is closed.
TEST_F(RemoteFsysTest, UnitThatStopsReadingFailsTheSendAfterTheWait) {
  const std::u16string file = WriteFile("stuck.bin", Pattern(48 * 1024 * 1024));
  std::atomic<bool> done{false};
  FilePeer peer([&](PeerConnection& unit) { AcceptThenStopReading(unit, done); });
  Connect(peer);
  EXPECT_EQ(Put(file, "/stuck"), platform::kErrorTimedOut);
  EXPECT_NE(Put(file, "/again"), 0);
  done = true;
  peer.Join();
}

TEST_F(RemoteFsysTest, ConnectFailureLeavesTheConnectionClosed) {
  std::uint16_t unusedPort = 0;
  {
    // A port that was just free: nothing listens on it any more.
    const platform::SocketHandle probe = platform::OpenTcpSocket();
    ASSERT_EQ(platform::Bind(probe, filetest::Loopback(), 0), 0);
    platform::GetLocalAddress(probe, nullptr, &unusedPort);
    platform::CloseSocket(probe);
  }
  link_.setPortForTesting(unusedPort);
  EXPECT_NE(link_.Connect(filetest::Loopback()), 0);
  const std::u16string file = WriteFile("never.bin", Pattern(1));
  EXPECT_NE(Put(file, "/n"), 0);
  link_.Close();
}

}  // namespace

namespace {

TEST_F(RemoteFsysTest, CloseFromAnotherThreadAbortsAConnectUnderWay) {
  testsupport::FullListener unit;
  if (!unit.isFull()) GTEST_SKIP() << "the system accepted every connection";
  link_.setPortForTesting(unit.port());
  std::atomic<bool> returned{false};
  int result = 0;
  std::thread job([&] {
    result = link_.Connect(filetest::Loopback());
    returned = true;
  });
  // Closes until the connect gives up, so a close that came before the
  // connect began is repeated once it is under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!returned && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    link_.Close();
  }
  EXPECT_TRUE(returned.load()) << "the connect went on after the close";
  job.join();
  EXPECT_NE(result, 0);
  const std::u16string file = WriteFile("after-cancel.bin", Pattern(1));
  EXPECT_NE(Put(file, "/n"), 0);
}

}  // namespace
