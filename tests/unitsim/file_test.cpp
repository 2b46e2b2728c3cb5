// The file service: put exchanges checked byte for byte with an independent
// check value, what is stored where, and every file-service knob's effect on
// the wire.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "SimTest.h"

namespace simtest {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return data;
}

// The fields of a reply, for readable assertions.
struct Reply {
  explicit Reply(const std::string& bytes) : bytes(bytes) {}
  int length() const { return bytes.size() >= 6 ? (bytes[4] & 0xFF) | (bytes[5] & 0xFF) << 8 : -1; }
  int flag() const { return bytes.size() >= 8 ? bytes[7] & 0xFF : -1; }
  std::uint32_t status() const { return bytes.size() >= 12 ? ReadLe32(bytes, 8) : 0xFFFFFFFFu; }
  std::string bytes;
};

class FileServiceTest : public SimTest {
 protected:
  bool StartUnit(std::vector<std::string> knobs = {}) {
    SimUnit unit("127.0.0.2");
    for (const std::string& knob : knobs) unit.Knob(knob);
    return Start({unit}) && files.Connect("127.0.0.2", 4877);
  }
  std::string Stored(const std::string& remote) { return sim.StoredPath("127.0.0.2", remote); }
  Tcp files;
};

TEST_F(FileServiceTest, CheckRegisterOfTheTestsIsTheDocumentedOne) {
  EXPECT_EQ(CheckRegister("abc"), 0xCADBBE3Du);
  EXPECT_EQ(CheckRegister(""), 0xFFFFFFFFu);
  EXPECT_EQ(Hex(Trailer("")), Hex(Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xFF})));
  EXPECT_EQ(PutRequest("/a", 0, 0, 511).size(), 40u);
}

TEST_F(FileServiceTest, PutExchangeRepliesAndStoresTheFileWithModeAndTime) {
  ASSERT_TRUE(StartUnit()) << sim.Error();
  const std::string data = Pattern(4000);
  files.Send(PutRequest("/rsa/app.bin", 4000, 1700000000, 0640));
  EXPECT_EQ(Hex(files.ReadExactly(12, 3000)),
            Hex(Bytes({0xA4, 0xF2, 0x9E, 0x18, 0x0C, 0x00, 0x81, 0x00, 0, 0, 0, 0})));
  files.Send(data.substr(0, 1500));
  files.Send(data.substr(1500));
  files.Send(Trailer(data));
  EXPECT_EQ(Hex(files.ReadExactly(12, 3000)),
            Hex(Bytes({0xAF, 0x53, 0x56, 0x55, 0x0C, 0x00, 0x83, 0x00, 0, 0, 0, 0})));
  EXPECT_EQ(ReadFile(Stored("/rsa/app.bin")), data);
  struct stat status;
  ASSERT_EQ(stat(Stored("/rsa/app.bin").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_mtime, 1700000000);
  testsupport::SimEvent file;
  ASSERT_TRUE(sim.WaitForEvent("file", "127.0.0.2", 2000, &file));
  EXPECT_EQ(file.Str("crc"), "ok");
  EXPECT_EQ(file.Int("size"), 4000);
  EXPECT_TRUE(file.Bool("stored"));
}

TEST_F(FileServiceTest, SeveralFilesOneConnectionIncludingAnEmptyOne) {
  ASSERT_TRUE(StartUnit()) << sim.Error();
  EXPECT_EQ(PutFile(files, "/opt/x//deep/a.txt", "alpha").size(), 24u);
  const std::string empty = PutFile(files, "/empty", "");
  ASSERT_EQ(empty.size(), 24u);
  EXPECT_EQ(Reply(empty.substr(12)).status(), 0u);
  EXPECT_EQ(PutFile(files, "/b", Pattern(1501)).size(), 24u);
  EXPECT_EQ(ReadFile(Stored("/opt/x/deep/a.txt")), "alpha");
  EXPECT_TRUE(Exists(Stored("/empty")));
  EXPECT_EQ(ReadFile(Stored("/empty")), "");
  EXPECT_EQ(ReadFile(Stored("/b")), Pattern(1501));
  EXPECT_TRUE(sim.WaitForCount("file", "127.0.0.2", 3, 2000));
  for (const auto& file : sim.Events("file", "127.0.0.2")) EXPECT_EQ(file.Str("crc"), "ok");
}

TEST_F(FileServiceTest, RequestWithAWrongCheckValueGetsAnErrorReply) {
  ASSERT_TRUE(StartUnit()) << sim.Error();
  std::string request = PutRequest("/x", 3, 0, 511);
  request[0] ^= 0x01;
  files.Send(request);
  const Reply reply(files.ReadExactly(12, 3000));
  EXPECT_TRUE(ReplyCheckValueOk(reply.bytes)) << Hex(reply.bytes);
  EXPECT_EQ(reply.flag(), 1);
  EXPECT_EQ(reply.status(), 1u);
  EXPECT_EQ(PutFile(files, "/y", "abc").size(), 24u) << "the connection goes on";
  EXPECT_FALSE(Exists(Stored("/x")));
  EXPECT_TRUE(sim.WaitForEvent("fs_protocol_error", "127.0.0.2", 2000));
}

TEST_F(FileServiceTest, MalformedRequestsAreRefusedWithTheErrorFlag) {
  ASSERT_TRUE(StartUnit()) << sim.Error();
  std::string body = PutRequest("/x", 0, 0, 511).substr(4);
  body[4] = 3;  // kind 3 instead of 2
  files.Send(Le32(CheckRegister(body)) + body);
  EXPECT_EQ(Reply(files.ReadExactly(12, 3000)).flag(), 1);
  body = PutRequest("/x", 0, 0, 511).substr(4);
  body[body.size() - 2] = 'z';  // the name's NUL is missing
  files.Send(Le32(CheckRegister(body)) + body);
  EXPECT_EQ(Reply(files.ReadExactly(12, 3000)).flag(), 1);
  files.Send(PutRequest("/../outside", 0, 0, 511));
  const Reply outside(files.ReadExactly(12, 3000));
  EXPECT_EQ(outside.flag(), 0);
  EXPECT_EQ(outside.status(), 4u);
}

TEST_F(FileServiceTest, WrongTrailerCheckValueFailsThePutAndStoresNothing) {
  ASSERT_TRUE(StartUnit()) << sim.Error();
  files.Send(PutRequest("/bad.bin", 3, 0, 511));
  EXPECT_EQ(Reply(files.ReadExactly(12, 3000)).status(), 0u);
  files.Send("abc");
  files.Send(Trailer("abd"));
  const Reply reply(files.ReadExactly(12, 3000));
  EXPECT_TRUE(ReplyCheckValueOk(reply.bytes));
  EXPECT_EQ(reply.status(), 3u);
  EXPECT_FALSE(Exists(Stored("/bad.bin")));
  testsupport::SimEvent file;
  ASSERT_TRUE(sim.WaitForEvent("file", "127.0.0.2", 2000, &file));
  EXPECT_EQ(file.Str("crc"), "bad");
  EXPECT_FALSE(file.Bool("stored"));
}

TEST_F(FileServiceTest, ErrorNoticeIsLoggedAndGetsNoReply) {
  ASSERT_TRUE(StartUnit()) << sim.Error();
  const std::string body = Le16(12) + Bytes({7, 0}) + Le32(2);
  files.Send(Le32(CheckRegister(body)) + body);
  EXPECT_EQ(files.ReadFor(300), "");
  testsupport::SimEvent notice;
  ASSERT_TRUE(sim.WaitForEvent("fs_error_notice", "127.0.0.2", 2000, &notice));
  EXPECT_EQ(notice.Int("error"), 2);
  EXPECT_TRUE(notice.Bool("check_ok"));
}

TEST_F(FileServiceTest, SilentKnobNeverReplies) {
  ASSERT_TRUE(StartUnit({"fs-silent"})) << sim.Error();
  files.Send(PutRequest("/x", 3, 0, 511));
  EXPECT_EQ(files.ReadFor(500), "");
  EXPECT_FALSE(files.WaitClosed(0));
  EXPECT_TRUE(sim.WaitForEvent("fs_silent", "127.0.0.2", 2000));
}

TEST_F(FileServiceTest, CheckValueKnobSpoilsOnlyTheCheckValue) {
  ASSERT_TRUE(StartUnit({"fs-fault=crc"})) << sim.Error();
  const Reply reply(PutFile(files, "/x", "abc").substr(0, 12));
  EXPECT_EQ(reply.length(), 12);
  EXPECT_EQ(reply.flag(), 0);
  EXPECT_EQ(reply.status(), 0u);
  EXPECT_FALSE(ReplyCheckValueOk(reply.bytes)) << Hex(reply.bytes);
}

TEST_F(FileServiceTest, Length13KnobSendsALongerReply) {
  ASSERT_TRUE(StartUnit({"fs-fault=len13"})) << sim.Error();
  files.Send(PutRequest("/x", 3, 0, 511));
  const std::string reply = files.ReadFor(400);
  ASSERT_EQ(reply.size(), 13u) << Hex(reply);
  EXPECT_EQ(Reply(reply).length(), 13);
  EXPECT_EQ(ReadLe32(reply, 0), CheckRegister(reply.substr(4)));
}

TEST_F(FileServiceTest, ErrorFlagKnobSetsTheFlagWithStatusZero) {
  ASSERT_TRUE(StartUnit({"fs-fault=errflag"})) << sim.Error();
  files.Send(PutRequest("/x", 3, 0, 511));
  const Reply reply(files.ReadExactly(12, 3000));
  EXPECT_TRUE(ReplyCheckValueOk(reply.bytes));
  EXPECT_EQ(reply.flag(), 1);
  EXPECT_EQ(reply.status(), 0u);
}

TEST_F(FileServiceTest, StatusKnobRepliesWithThatStatus) {
  ASSERT_TRUE(StartUnit({"fs-fault=status:9"})) << sim.Error();
  files.Send(PutRequest("/x", 3, 0, 511));
  const Reply reply(files.ReadExactly(12, 3000));
  EXPECT_TRUE(ReplyCheckValueOk(reply.bytes));
  EXPECT_EQ(reply.flag(), 0);
  EXPECT_EQ(reply.status(), 9u);
}

TEST_F(FileServiceTest, FaultAtTrailerSpoilsTheFinalReplyAndKeepsTheFile) {
  ASSERT_TRUE(StartUnit({"fs-fault=status:9", "fs-fault-at=trailer"})) << sim.Error();
  const std::string replies = PutFile(files, "/x", "abc");
  ASSERT_EQ(replies.size(), 24u);
  EXPECT_EQ(Reply(replies.substr(0, 12)).status(), 0u);
  EXPECT_EQ(Reply(replies.substr(12)).status(), 9u);
  EXPECT_FALSE(Exists(Stored("/x"))) << "a refused file is not kept";
}

TEST_F(FileServiceTest, FaultOnOnePutLeavesTheOthersClean) {
  ASSERT_TRUE(StartUnit({"fs-fault=status:5", "fs-fault-put=2"})) << sim.Error();
  EXPECT_EQ(Reply(PutFile(files, "/one", "1").substr(12)).status(), 0u);
  files.Send(PutRequest("/two", 1, 0, 511));
  EXPECT_EQ(Reply(files.ReadExactly(12, 3000)).status(), 5u);
  EXPECT_EQ(Reply(PutFile(files, "/three", "3").substr(12)).status(), 0u);
}

TEST_F(FileServiceTest, CloseAfterKnobDropsTheConnectionMidFile) {
  ASSERT_TRUE(StartUnit({"fs-close-after=1000"})) << sim.Error();
  files.Send(PutRequest("/big", 3000, 0, 511));
  EXPECT_EQ(Reply(files.ReadExactly(12, 3000)).status(), 0u);
  files.Send(Pattern(3000));
  EXPECT_TRUE(files.WaitClosed(3000));
  testsupport::SimEvent closed;
  ASSERT_TRUE(sim.WaitForEvent("close_mid_file", "127.0.0.2", 2000, &closed));
  EXPECT_EQ(closed.Int("received"), 1000);
  EXPECT_FALSE(Exists(Stored("/big")));
}

TEST_F(FileServiceTest, RateKnobSlowsTheTransferDown) {
  ASSERT_TRUE(StartUnit({"rate=20000"})) << sim.Error();
  EXPECT_EQ(PutFile(files, "/slow", Pattern(30000)).size(), 24u);
  testsupport::SimEvent put;
  testsupport::SimEvent file;
  ASSERT_TRUE(sim.WaitForEvent("put", "127.0.0.2", 2000, &put));
  ASSERT_TRUE(sim.WaitForEvent("file", "127.0.0.2", 2000, &file));
  // 30000 bytes at 20000 bytes a second take 1.5 s; only a lower bound is
  // safe on a busy machine.
  EXPECT_GE(file.Int("t") - put.Int("t"), 1200);
}

}  // namespace
}  // namespace simtest
