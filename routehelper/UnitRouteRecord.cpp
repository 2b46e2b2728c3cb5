// Writing the unit-route datagram. The mode byte stands before the record
// but is known only once the record is written, so the record goes in first
// and the byte is filled in behind it.
#include "UnitRouteRecord.h"

#include <cstring>

#include "DataRecord.h"
#include "RecordElement.h"
#include "VarEnum.h"

namespace {

constexpr std::uint32_t kRouteWord = 0x00010002u;
// The room of the payload: the word, the mode byte and the record.
constexpr int kPayloadRoom = 995;
constexpr int kRecordOffset = 5;

}  // namespace

bool BuildUnitRoutePayload(const std::uint8_t* mac, int mode, std::uint32_t interfaceAddress,
                           ZEQ::UDPPacketBuffer& payload) {
  std::uint8_t macCopy[6];
  std::memcpy(macCopy, mac, sizeof macCopy);
  std::uint32_t address = interfaceAddress;
  DataRecord record;
  record.Put(VT_BLOB, "MAC", macCopy, RecordElement::kCopy, 6);
  record.Put(VT_I4, "Mode", mode);
  record.Put(VT_BLOB, "RemoteIP", &address, RecordElement::kCopy, 4);

  payload.alloc(kPayloadRoom);
  auto* bytes = static_cast<std::uint8_t*>(static_cast<void*>(payload));
  if (bytes == nullptr) return false;
  int header = 0;
  int data = 0;
  if (!record.WriteHeader(bytes + kRecordOffset, kPayloadRoom - kRecordOffset, &header) ||
      !record.WriteData(bytes + kRecordOffset + header, kPayloadRoom - kRecordOffset - header,
                        &data)) {
    return false;
  }
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(kRouteWord >> (8 * i));
  bytes[4] = static_cast<std::uint8_t>(record.getFlags());
  payload.setSize(kRecordOffset + header + data);
  return true;
}
