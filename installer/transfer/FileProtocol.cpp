// Builders and checks of the file service's messages. Fields are written byte
// by byte, so the layout does not depend on the host's byte order or on
// structure padding.
#include "transfer/FileProtocol.h"

#include <cstring>

#include "LittleEndian.h"
#include "transfer/Crc32.h"

namespace {

constexpr std::uint8_t kTypePut = 1;
constexpr std::uint8_t kTypeErrorNotice = 7;
constexpr std::uint8_t kKindPut = 2;

}  // namespace

std::size_t PutRequestSize(std::size_t nameLength) {
  return nameLength > kMaxRemoteNameLength ? 0 : kPutRequestFixedSize + nameLength;
}

void BuildPutRequest(const PutRequestFields& fields, std::string_view remoteName,
                     std::uint8_t* message) {
  const std::size_t size = PutRequestSize(remoteName.size());
  std::memset(message, 0, size);
  ZEQ::WriteLe16(message + 4, static_cast<std::uint16_t>(size));
  message[6] = kTypePut;
  message[8] = kKindPut;
  message[9] = fields.options;
  ZEQ::WriteLe32(message + 14, fields.fileSize);
  ZEQ::WriteLe32(message + 30, fields.modified);
  ZEQ::WriteLe16(message + 34, kPutMode);
  if (!remoteName.empty()) std::memcpy(message + 36, remoteName.data(), remoteName.size());
  SealMessage(message);
}

void BuildErrorNotice(std::uint32_t error, std::uint8_t* message) {
  std::memset(message, 0, kErrorNoticeSize);
  ZEQ::WriteLe16(message + 4, kErrorNoticeSize);
  message[6] = kTypeErrorNotice;
  ZEQ::WriteLe32(message + 8, error);
  SealMessage(message);
}

void BuildTrailer(std::uint32_t fileCheck, std::uint8_t* trailer) {
  trailer[0] = 0;
  ZEQ::WriteLe32(trailer + 1, fileCheck);
}

void SealMessage(std::uint8_t* message) {
  message[7] = 0;
  const std::uint16_t length = ZEQ::ReadLe16(message + 4);
  ZEQ::WriteLe32(message, Crc32(message + 4, length - 4u));
}

int CheckReplyHeader(const std::uint8_t* header) {
  return ZEQ::ReadLe16(header + 4) == kReplySize ? 0 : kFileReplyBadLength;
}

int CheckReply(const std::uint8_t* reply, std::uint32_t* status) {
  if (Crc32(reply + 4, kReplySize - 4) != ZEQ::ReadLe32(reply)) return kFileReplyBadCheck;
  if (reply[7] != 0) return kFileReplyErrorFlag;
  *status = ZEQ::ReadLe32(reply + 8);
  return 0;
}
