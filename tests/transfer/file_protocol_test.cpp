// The file service's messages byte for byte, against golden bytes worked out
// by hand from the message layouts (check values from an independent CRC-32).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "file_peer.h"
#include "transfer/Crc32.h"
#include "transfer/FileProtocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using filetest::MakeReply;
using filetest::ReadLe32;

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32("abc", 3), 0xCADBBE3Du);
  EXPECT_EQ(Crc32("", 0), 0xFFFFFFFFu);
  // The complement of the usual CRC-32 of "123456789" (0xCBF43926).
  EXPECT_EQ(Crc32("123456789", 9), ~0xCBF43926u);
}

TEST(Crc32Test, PiecewiseEqualsWhole) {
  Bytes data(4000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::uint32_t crc = kCrc32Start;
  for (std::size_t at = 0; at < data.size(); at += 1500) {
    crc = Crc32Update(crc, data.data() + at, std::min<std::size_t>(1500, data.size() - at));
  }
  EXPECT_EQ(crc, Crc32(data.data(), data.size()));
}

TEST(PutRequestTest, GoldenBytes) {
  const std::string name = "/a";
  ASSERT_EQ(PutRequestSize(name.size()), 40u);
  Bytes message(40, 0xCC);
  BuildPutRequest({0x01020304u, 0x5F5E1000u, 0}, name, message.data());
  const Bytes expected{0x50, 0xc2, 0x7d, 0xec, 0x28, 0x00, 0x01, 0x00, 0x02, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                       0x00, 0x10, 0x5e, 0x5f, 0xff, 0x01, 0x2f, 0x61, 0x00, 0x00};
  EXPECT_EQ(message, expected);
}

TEST(PutRequestTest, LengthAndCheckCoverTheName) {
  const std::string name = "/opt/app/bin/tool";
  const std::size_t n = name.size();
  Bytes message(PutRequestSize(n));
  ASSERT_EQ(message.size(), 38 + n);
  BuildPutRequest({1500, 7, 0xAB}, name, message.data());
  EXPECT_EQ(message[4] | (message[5] << 8), static_cast<int>(38 + n));
  EXPECT_EQ(ReadLe32(message.data()), Crc32(message.data() + 4, 34 + n));
  EXPECT_EQ(message[9], 0xAB);
  EXPECT_EQ(message[34] | (message[35] << 8), 511);
  EXPECT_EQ(std::string(message.begin() + 36, message.begin() + 36 + n), name);
  EXPECT_EQ(message[36 + n], 0);
  EXPECT_EQ(message[37 + n], 0);
}

TEST(PutRequestTest, NameLengthLimitOfTheLengthField) {
  EXPECT_EQ(PutRequestSize(kMaxRemoteNameLength), 0xFFFFu);
  EXPECT_EQ(PutRequestSize(kMaxRemoteNameLength + 1), 0u);
  EXPECT_EQ(PutRequestSize(0), 38u);
}

TEST(ErrorNoticeTest, GoldenBytes) {
  std::uint8_t notice[kErrorNoticeSize];
  BuildErrorNotice(2, notice);
  const Bytes expected{0xea, 0xcd, 0x7e, 0x7a, 0x0c, 0x00, 0x07, 0x00, 0x02, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(notice, notice + kErrorNoticeSize), expected);
}

TEST(TrailerTest, EmptyFileAndValue) {
  std::uint8_t trailer[kTrailerSize];
  BuildTrailer(Crc32("", 0), trailer);
  EXPECT_EQ(Bytes(trailer, trailer + 5), (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  BuildTrailer(0xCADBBE3Du, trailer);
  EXPECT_EQ(Bytes(trailer, trailer + 5), (Bytes{0x00, 0x3D, 0xBE, 0xDB, 0xCA}));
}

TEST(ReplyTest, GoldenAcceptedReply) {
  const Bytes golden{0xd9, 0x35, 0x72, 0xcd, 0x0c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(MakeReply(0, 0, 12), golden);
  std::uint32_t status = 99;
  EXPECT_EQ(CheckReplyHeader(golden.data()), 0);
  EXPECT_EQ(CheckReply(golden.data(), &status), 0);
  EXPECT_EQ(status, 0u);
}

TEST(ReplyTest, Faults) {
  std::uint32_t status = 0;
  const Bytes refused = MakeReply(0xDEADBEEF, 0, 12);
  EXPECT_EQ(CheckReply(refused.data(), &status), 0);
  EXPECT_EQ(status, 0xDEADBEEFu);

  Bytes damaged = MakeReply(0, 0, 12);
  damaged[10] ^= 1;
  EXPECT_EQ(CheckReply(damaged.data(), &status), kFileReplyBadCheck);

  EXPECT_EQ(CheckReply(MakeReply(0, 1, 12).data(), &status), kFileReplyErrorFlag);
  EXPECT_EQ(CheckReplyHeader(MakeReply(0, 0, 13).data()), kFileReplyBadLength);
  for (std::uint16_t shorter : {0, 7, 8, 11}) {
    EXPECT_EQ(CheckReplyHeader(MakeReply(0, 0, shorter).data()), kFileReplyBadLength) << shorter;
  }
}

}  // namespace
