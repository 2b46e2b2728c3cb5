// Fuzz target for the checks of the file service's replies, the bytes a unit
// (or anything answering on port 4877) sends back. Each input is taken as the
// bytes received for one reply: the header check sees its first 8 bytes and,
// when it accepts them, the reply check sees the first 12. Both results are
// compared with a reference written here from the message layout, with a
// bit-by-bit CRC-32 in place of the table, and the table CRC-32 of the input
// is compared whole, piecewise and with the reference. A disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "transfer/Crc32.h"
#include "transfer/FileProtocol.h"

namespace {

std::uint32_t ReferenceCrc(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

std::uint32_t Le32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckCrc(const std::uint8_t* data, std::size_t size) {
  const std::uint32_t whole = Crc32(data, size);
  Check(whole == ReferenceCrc(data, size));
  const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  Check(Crc32Update(Crc32(data, cut), data + cut, size - cut) == whole);
}

void CheckReplyChecks(const std::uint8_t* data, std::size_t size) {
  if (size < kReplyHeaderSize) return;
  const bool whole = (data[4] | (data[5] << 8)) == kReplySize;
  const int header = CheckReplyHeader(data);
  Check(header == (whole ? 0 : kFileReplyBadLength));
  if (!whole || size < kReplySize) return;
  std::uint32_t status = 0xA5A5A5A5u;
  const int result = CheckReply(data, &status);
  if (ReferenceCrc(data + 4, kReplySize - 4) != Le32(data)) {
    Check(result == kFileReplyBadCheck);
  } else if (data[7] != 0) {
    Check(result == kFileReplyErrorFlag);
  } else {
    Check(result == 0 && status == Le32(data + 8));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckCrc(data, size);
  CheckReplyChecks(data, size);
  return 0;
}
