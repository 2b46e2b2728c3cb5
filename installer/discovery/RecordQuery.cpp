// The record query and the reply checks (see RecordQuery.h).
#include "RecordQuery.h"

#include <cstring>

#include "DataRecord.h"
#include "UDPPacketBuffer.h"
#include "UDPSender.h"
#include "VEVException.h"

namespace discovery {

namespace {

// The names asked for, in the order the query lists them.
constexpr const char* kQueryNames[] = {"ReplyTarvoProxy", "ReplyTarvo", "Node", "IPAddress",
                                       "NetMask",         "FromIP",     "MAC",  "Group",
                                       "Version",         "VXMGW"};

constexpr int kFrameLength = 5;  // message word and mode byte
constexpr std::uint32_t kReplyBit = 0x80000000u;
constexpr std::uint32_t kKindMask = 0x7FFF0000u;
constexpr std::uint32_t kDiscoveryKind = 0x00010000u;

std::uint32_t ReadLe32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// The value of a present element holding at least `size` bytes, or null.
const unsigned char* ValueOfAtLeast(const DataRecord& record, const char* name, int size) {
  const RecordElement* element = record.Find(name);
  if (element == nullptr || element->getDataSize() < size) return nullptr;
  return static_cast<const unsigned char*>(element->getData());
}

// The element when it is a string; *text is its value, or null when the
// record carried the name without a value.
const RecordElement* StringElement(const DataRecord& record, const char* name, const char** text) {
  const RecordElement* element = record.Find(name);
  if (element == nullptr || element->getType() != VT_BSTR) return nullptr;
  *text = static_cast<const char*>(element->getData());
  return element;
}

bool ReadRequired(const DataRecord& record, DiscoveredUnit* unit) {
  const unsigned char* address = ValueOfAtLeast(record, "IPAddress", 4);
  const unsigned char* from = ValueOfAtLeast(record, "FromIP", 4);
  const unsigned char* node = ValueOfAtLeast(record, "Node", 2);
  const char* group = nullptr;
  const bool hasGroup = StringElement(record, "Group", &group) != nullptr;
  const unsigned char* mac = ValueOfAtLeast(record, "MAC", 6);
  if (address == nullptr || from == nullptr || node == nullptr || !hasGroup || mac == nullptr) {
    return false;
  }
  std::memcpy(&unit->address, address, 4);
  std::memcpy(&unit->reachedFrom, from, 4);
  unit->node = static_cast<std::int16_t>(node[0] | node[1] << 8);
  // A "Group" named without a value is a string all the same: an empty one.
  unit->group = group != nullptr ? group : "";
  unit->hasMac = true;
  std::memcpy(unit->mac, mac, 6);
  return true;
}

void ReadOptional(const DataRecord& record, DiscoveredUnit* unit) {
  const char* version = nullptr;
  StringElement(record, "Version", &version);
  unit->version = version != nullptr ? version : kUnknownVersion;
  const unsigned char* gateway = ValueOfAtLeast(record, "VXMGW", 4);
  if (gateway != nullptr) std::memcpy(&unit->gateway, gateway, 4);
}

}  // namespace

bool BuildDiscoveryQuery(ZEQ::UDPPacketBuffer* buffer) {
  buffer->alloc(kQueryBufferSize);
  unsigned char* bytes = static_cast<unsigned char*>(static_cast<void*>(*buffer));
  if (bytes == nullptr) return false;
  DataRecord record;
  for (const char* name : kQueryNames) record.Put(VT_NULL, name, 0);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(kQueryWord >> (8 * i));
  int written = 0;
  if (!record.Write(bytes + kFrameLength, kQueryBufferSize - kFrameLength, &written)) return false;
  bytes[4] = static_cast<unsigned char>(record.getFlags());
  buffer->setSize(written + kFrameLength);
  return true;
}

std::optional<DiscoveredUnit> ParseDiscoveryReply(const void* data, int size) {
  if (data == nullptr || size < kFrameLength) return std::nullopt;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::uint32_t word = ReadLe32(bytes);
  if ((word & kReplyBit) == 0 || (word & kKindMask) != kDiscoveryKind) return std::nullopt;
  DataRecord record;
  record.setFlags(bytes[4] & DataRecord::kModeMask);
  if (record.Read(bytes + kFrameLength, size - kFrameLength) < 1) return std::nullopt;
  DiscoveredUnit unit;
  if (!ReadRequired(record, &unit)) return std::nullopt;
  ReadOptional(record, &unit);
  return unit;
}

bool SendRecordQuery(ZEQ::UDPSender* sender) {
  ZEQ::UDPPacketBuffer buffer(kQueryBufferSize);
  if (!BuildDiscoveryQuery(&buffer) || sender == nullptr) return false;
  try {
    sender->Broadcast(buffer, nullptr, 1);
  } catch (const VEVException&) {
    return false;
  }
  return true;
}

}  // namespace discovery
