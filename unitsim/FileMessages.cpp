// File-protocol messages (see FileMessages.h).
#include "FileMessages.h"

#include "Crc32.h"

namespace unitsim {

namespace {

void PutLe16(std::string& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>(value >> 8);
}

void PutLe32(std::string& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::uint16_t Le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t Le32(const std::uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool CheckValueMatches(const std::uint8_t* message, std::size_t length) {
  return length >= 4 && Le32(message) == UpdateCrc(kCrcStart, message + 4, length - 4);
}

std::string ParsePutRequest(const std::uint8_t* message, std::size_t length, PutRequest* put) {
  if (length < 39) return "put request shorter than 39 bytes";
  put->length = Le16(message + 4);
  put->errorFlag = message[7];
  put->kind = message[8];
  put->options = message[9];
  put->fileSize = Le32(message + 14);
  put->field26 = Le32(message + 26);
  put->modified = Le32(message + 30);
  put->mode = Le16(message + 34);
  put->reservedZero = Le32(message + 10) == 0 && Le32(message + 18) == 0 && Le32(message + 22) == 0;
  if (put->length != length) return "length field differs from the message's length";
  if (message[6] != kTypePut) return "not a put request";
  if (put->errorFlag != 0) return "error flag set in a put request";
  if (put->kind != 2) return "kind is not 2";
  // The name fills offsets 36 to length - 3, then a NUL and one more byte.
  const std::size_t nameLength = length - 38;
  put->name.assign(reinterpret_cast<const char*>(message + 36), nameLength);
  if (put->name.find('\0') != std::string::npos) return "NUL inside the remote name";
  if (message[36 + nameLength] != 0) return "remote name not followed by a NUL";
  put->nameTail = message[37 + nameLength];
  if (nameLength == 0) return "empty remote name";
  return "";
}

std::string BuildReply(std::uint8_t replyType, std::uint8_t errorFlag, std::uint32_t status,
                       ReplyFault fault, std::uint32_t faultStatus) {
  std::string reply(fault == ReplyFault::kLength13 ? 13 : 12, '\0');
  if (fault == ReplyFault::kErrorFlag) errorFlag = 1;
  if (fault == ReplyFault::kStatus) status = faultStatus;
  PutLe16(reply, 4, static_cast<std::uint16_t>(reply.size()));
  reply[6] = static_cast<char>(replyType);
  reply[7] = static_cast<char>(errorFlag);
  PutLe32(reply, 8, status);
  std::uint32_t check = UpdateCrc(kCrcStart, reply.data() + 4, reply.size() - 4);
  if (fault == ReplyFault::kBadCheckValue) check ^= 1;
  PutLe32(reply, 0, check);
  return reply;
}

}  // namespace unitsim
