// Discovery and route datagrams (see DiscoveryMessages.h).
#include "DiscoveryMessages.h"

#include <cstdio>
#include <cstring>

#include "DataRecord.h"
#include "FileMessages.h"

namespace unitsim {

namespace {

void AppendLe32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendBytes(std::string& out, const void* data, std::size_t length) {
  out.append(static_cast<const char*>(data), length);
}

std::string ElementNames(const DataRecord& record, bool* allNull) {
  std::string names;
  *allNull = true;
  for (int i = 0; i < record.getCount(); ++i) {
    const RecordElement* element = record.Find(i);
    if (!names.empty()) names += ",";
    names += element->getName();
    if (element->getType() != VT_NULL) *allNull = false;
  }
  return names;
}

// The first `size` bytes of a present element of at least that size, or null.
const std::uint8_t* ElementBytes(const DataRecord& record, const char* name, int size) {
  const RecordElement* element = record.Find(name);
  if (element == nullptr || element->getData() == nullptr || element->getDataSize() < size) {
    return nullptr;
  }
  return static_cast<const std::uint8_t*>(element->getData());
}

}  // namespace

std::string ParseQuery(const std::uint8_t* data, std::size_t length, QueryInfo* query) {
  if (length < 5) return "shorter than 5 bytes";
  query->word = Le32(data);
  if (query->word != kQueryWord) return "not a query word";
  query->mode = data[4];
  DataRecord record;
  record.setFlags(data[4] & 3);
  if (record.Read(data + 5, static_cast<int>(length - 5)) < 1) return "record unreadable";
  query->names = ElementNames(record, &query->allNull);
  return "";
}

std::string BuildQueryReply(const UnitConfig& unit, std::uint32_t fromAddress) {
  DataRecord record;
  std::uint32_t address = unit.address;
  std::uint32_t from = fromAddress;
  std::uint8_t mac[6];
  std::memcpy(mac, unit.mac, sizeof mac);
  std::uint32_t gateway = unit.gateway;
  record.Put(VT_BLOB, "IPAddress", &address, RecordElement::kCopy, 4);
  record.Put(VT_BLOB, "FromIP", &from, RecordElement::kCopy, 4);
  record.Put(VT_I2, "Node", unit.node);
  record.Put(VT_BSTR, "Group", const_cast<char*>(unit.group.c_str()), RecordElement::kCopy, 0);
  record.Put(VT_BLOB, "MAC", mac, RecordElement::kCopy, 6);
  if (unit.hasVersion) {
    record.Put(VT_BSTR, "Version", const_cast<char*>(unit.version.c_str()), RecordElement::kCopy,
               0);
  }
  if (unit.hasGateway) record.Put(VT_BLOB, "VXMGW", &gateway, RecordElement::kCopy, 4);
  char buffer[1500];
  int written = 0;
  if (!record.Write(buffer, sizeof buffer, &written)) return std::string();
  std::string reply;
  AppendLe32(reply, kReplyWord);
  reply += static_cast<char>(record.getFlags());
  AppendBytes(reply, buffer, static_cast<std::size_t>(written));
  return reply;
}

std::string ParseProbe(const std::uint8_t* data, std::size_t length, std::uint32_t* address,
                       std::uint16_t* port) {
  if (length != 18) return "not 18 bytes";
  if (data[0] != 0x00 || data[1] != 0x01) return "does not start 00 01";
  if (Le16(data + 2) != 2) return "socket address family is not 2";
  *port = static_cast<std::uint16_t>((data[4] << 8) | data[5]);
  std::memcpy(address, data + 6, 4);
  return "";
}

std::string BuildProbeResponse(const UnitConfig& unit, std::uint16_t servicePort) {
  std::string response(26, '\0');
  response[0] = 0x02;
  response[1] = 0x01;
  response[4] = static_cast<char>(servicePort >> 8);
  response[5] = static_cast<char>(servicePort & 0xFF);
  std::memcpy(&response[6], &unit.address, 4);
  response[18] = static_cast<char>(unit.node & 0xFF);
  response[19] = static_cast<char>((unit.node >> 8) & 0xFF);
  response[22] = static_cast<char>(800 & 0xFF);
  response[23] = static_cast<char>(800 >> 8);
  response[24] = static_cast<char>(480 & 0xFF);
  response[25] = static_cast<char>(480 >> 8);
  const std::string third = unit.hasVersion ? unit.group + '\x1F' + unit.version : unit.group;
  for (const std::string& text :
       {std::string("Tarvo"), MacText(unit.mac), third, std::string("unitsim")}) {
    response += text;
    response += '\0';
  }
  return response;
}

std::string ParseRouteRecord(const std::uint8_t* data, std::size_t length, RouteRecord* route) {
  if (length < 5) return "shorter than 5 bytes";
  if (Le32(data) != kRouteWord) return "not a route word";
  route->presenceMode = data[4];
  DataRecord record;
  record.setFlags(data[4] & 3);
  if (record.Read(data + 5, static_cast<int>(length - 5)) < 1) return "record unreadable";
  bool allNull = false;
  route->names = ElementNames(record, &allNull);
  const std::uint8_t* mac = ElementBytes(record, "MAC", 6);
  const std::uint8_t* remote = ElementBytes(record, "RemoteIP", 4);
  if (mac == nullptr) return "no 6-byte MAC";
  if (remote == nullptr) return "no 4-byte RemoteIP";
  if (!record.getData("Mode", &route->mode)) return "no Mode";
  std::memcpy(route->mac, mac, 6);
  std::memcpy(&route->remoteIp, remote, 4);
  return "";
}

std::string MacText(const std::uint8_t mac[6]) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

}  // namespace unitsim
