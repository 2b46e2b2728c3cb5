// The messages of the unit's file service on TCP port 4877, as bytes: the put
// request, the error notice, the data trailer and the check of a reply. These
// functions do no I/O; RemoteFsysManipulator sends what they build and feeds
// them what it receives, and the tests compare their output with golden
// bytes. All multi-byte fields are little-endian.
//
// Put request, 38 + n bytes for a remote name of n bytes:
//   0 check value over bytes 4..end   4 length (u16)   6 type 1   7 error flag 0
//   8 kind 2   9 options byte   10 zero (u32)   14 file size (u32)
//   18, 22, 26 zero (u32 each)   30 last-write time, Unix seconds (u32)
//   34 mode 0777 (u16)   36 the name, a zero byte, one more zero byte
// Error notice, 12 bytes: check value, length 12, type 7, flag 0, error (u32).
// Reply, 12 bytes: check value, length, one byte not examined, error flag,
//   status (u32).
// Data trailer, 5 bytes: a zero byte, then the check value of the file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Results of the protocol's own, beside the unit's status codes.
constexpr int kFileReplyErrorFlag = 275;    // the reply's error flag was set
constexpr int kFileReplyBadCheck = -1001;   // the reply's check value did not match
constexpr int kFileReplyBadLength = -1002;  // the reply's length field is not a reply's
constexpr int kFileNameTooLong = -1003;     // the remote name does not fit the length field

constexpr std::size_t kPutRequestFixedSize = 38;
constexpr std::size_t kErrorNoticeSize = 12;
constexpr std::size_t kReplySize = 12;
constexpr std::size_t kReplyHeaderSize = 8;
constexpr std::size_t kTrailerSize = 5;
constexpr std::uint16_t kPutMode = 0777;
// The longest name whose request length still fits the 16-bit length field.
constexpr std::size_t kMaxRemoteNameLength = 0xFFFF - kPutRequestFixedSize;

struct PutRequestFields {
  std::uint32_t fileSize;  // low 32 bits of the local file's size
  std::uint32_t modified;  // low 32 bits of its last-write time in Unix seconds
  std::uint8_t options;    // low byte of the caller's option word
};

// Bytes of the put request for a name of that length; 0 when the name is too
// long for the length field (more than kMaxRemoteNameLength bytes).
std::size_t PutRequestSize(std::size_t nameLength);
// Writes the sealed put request into message, which holds
// PutRequestSize(remoteName.size()) bytes (the name must fit).
void BuildPutRequest(const PutRequestFields& fields, std::string_view remoteName,
                     std::uint8_t* message);
// Writes the sealed 12-byte error notice carrying the system's error code.
void BuildErrorNotice(std::uint32_t error, std::uint8_t* message);
// Writes the 5-byte data trailer for the file's check value.
void BuildTrailer(std::uint32_t fileCheck, std::uint8_t* trailer);
// Clears the error flag and stores the check value over bytes 4 to the end of
// the message, whose length is read from its length field.
void SealMessage(std::uint8_t* message);

// Checks the first 8 bytes of a reply: 0 when its length field announces a
// whole 12-byte reply, else kFileReplyBadLength. A longer reply would overrun
// the reply area; a shorter one has no status word, and reading one anyway
// would take bytes the unit never sent.
int CheckReplyHeader(const std::uint8_t* header);
// Checks a whole 12-byte reply whose header passed: kFileReplyBadCheck,
// kFileReplyErrorFlag, or 0 with the unit's status word in *status.
int CheckReply(const std::uint8_t* reply, std::uint32_t* status);
