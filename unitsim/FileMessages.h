// The messages of the file protocol as the unit sees them: the put request
// and error notice that arrive, the 12-byte reply that goes back, and the
// 5-byte data trailer. Pure byte work, no I/O. All fields are little-endian.
//
// The unit's own status codes (the protocol leaves them to the unit):
//   1  the message's check value was wrong      (error flag set)
//   2  the message is malformed                 (error flag set)
//   3  the file's data did not match its check value in the trailer
//   4  the file could not be stored (bad remote path, disk error)
// Byte 6 of a reply is 0x81 after a put request and 0x83 after a trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "UnitConfig.h"

namespace unitsim {

enum : std::uint32_t {
  kStatusBadCheckValue = 1,
  kStatusMalformed = 2,
  kStatusBadFileCheck = 3,
  kStatusCannotStore = 4,
};

enum : std::uint8_t { kReplyToPut = 0x81, kReplyToTrailer = 0x83 };

enum : std::uint8_t { kTypePut = 1, kTypeErrorNotice = 7 };

struct PutRequest {
  std::uint16_t length = 0;
  std::uint8_t errorFlag = 0;
  std::uint8_t kind = 0;
  std::uint8_t options = 0;
  std::uint32_t fileSize = 0;
  std::uint32_t modified = 0;
  std::uint16_t mode = 0;
  std::string name;
  // Fields that the installer leaves 0 (offsets 10, 18, 22), the unfilled
  // field at 26 and the byte after the name's NUL.
  bool reservedZero = true;
  std::uint32_t field26 = 0;
  std::uint8_t nameTail = 0;
};

std::uint16_t Le16(const std::uint8_t* bytes);
std::uint32_t Le32(const std::uint8_t* bytes);

// True when the check value at offset 0 is the register over bytes 4 to the end.
bool CheckValueMatches(const std::uint8_t* message, std::size_t length);

// Takes apart a put request (check value already verified); an empty string
// or what is wrong with it.
std::string ParsePutRequest(const std::uint8_t* message, std::size_t length, PutRequest* put);

// A reply with a correct check value, unless `fault` spoils it.
std::string BuildReply(std::uint8_t replyType, std::uint8_t errorFlag, std::uint32_t status,
                       ReplyFault fault, std::uint32_t faultStatus);

}  // namespace unitsim
