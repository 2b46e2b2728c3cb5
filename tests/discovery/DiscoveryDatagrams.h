// Discovery datagrams as units send them, for the tests of every path that
// takes them apart: a record reply to the query, built from a description
// that each test varies in one point, and a device-link probe answer in a
// receive buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../general/udp_test_network.h"
#include "DataRecord.h"
#include "ProbeResponse.h"
#include "ResponseList.h"

namespace discoverytest {

// A reply as a unit builds it; each test changes one thing.
struct ReplyShape {
  std::uint32_t word = 0x80010001u;
  std::uint8_t modeHighBits = 0;
  std::vector<std::uint8_t> address = {10, 0, 0, 7};
  std::vector<std::uint8_t> from = {10, 0, 0, 1};
  int nodeType = VT_I2;
  int node = -2;
  int groupType = VT_BSTR;
  std::vector<std::uint8_t> mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  bool hasVersion = true;
  int versionType = VT_BSTR;
  std::vector<std::uint8_t> gateway = {192, 168, 9, 1};
  std::string drop;  // an element left out
};

inline void PutBlob(DataRecord& record, const char* name, std::vector<std::uint8_t> bytes,
                    const std::string& drop) {
  if (drop == name) return;
  record.Put(VT_BLOB, name, bytes.data(), RecordElement::kCopy,
             static_cast<unsigned long>(bytes.size()));
}

inline void PutText(DataRecord& record, int type, const char* name, const char* text,
                    const std::string& drop) {
  if (drop == name) return;
  if (type == VT_BSTR)
    record.Put(VT_BSTR, name, const_cast<char*>(text), RecordElement::kCopy, 0);
  else
    record.Put(type, name, 5);
}

inline std::vector<std::uint8_t> Reply(const ReplyShape& shape) {
  DataRecord record;
  PutBlob(record, "IPAddress", shape.address, shape.drop);
  PutBlob(record, "FromIP", shape.from, shape.drop);
  if (shape.drop != "Node") record.Put(shape.nodeType, "Node", shape.node);
  PutText(record, shape.groupType, "Group", "North", shape.drop);
  PutBlob(record, "MAC", shape.mac, shape.drop);
  if (shape.hasVersion) PutText(record, shape.versionType, "Version", "2.1", shape.drop);
  if (!shape.gateway.empty()) PutBlob(record, "VXMGW", shape.gateway, shape.drop);
  record.Put(VT_I4, "Extra", 99);  // unknown elements are ignored
  std::vector<std::uint8_t> bytes(1500);
  int written = 0;
  EXPECT_TRUE(record.Write(bytes.data() + 5, 1495, &written));
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = (shape.word >> (8 * i)) & 0xFF;
  bytes[4] = static_cast<std::uint8_t>(record.getFlags() | shape.modeHighBits);
  bytes.resize(static_cast<std::size_t>(written) + 5);
  return bytes;
}

// An answer in a receive buffer: 1500 bytes plus the 8 spare ones, filled
// with 0xEE beyond the datagram so that nothing relies on zeros being there.
struct Received {
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(
      discovery::ResponseList::kReceiveSize + discovery::kResponseSpareBytes, 0xEE);
  int length = 0;
};

inline Received Answer(const char* address, std::uint16_t node, const std::string& third,
                       const std::string& first = "Tarvo") {
  Received answer;
  std::uint8_t* at = answer.buffer.data();
  std::memset(at, 0, discovery::kResponseMinimum);
  at[0] = 0x02;
  at[1] = 0x01;
  at[4] = 0xD8;  // port 55329, big-endian
  at[5] = 0x21;
  const std::uint32_t key = udptest::Address(address);
  std::memcpy(at + 6, &key, 4);
  at[18] = node & 0xFF;
  at[19] = node >> 8;
  at[22] = 800 & 0xFF;
  at[23] = 800 >> 8;
  at[24] = 480 & 0xFF;
  at[25] = 480 >> 8;
  std::string strings = first + '\0' + "02:00:7f:00:00:02" + '\0' + third + '\0' + "unitsim";
  strings += '\0';
  std::memcpy(at + discovery::kResponseMinimum, strings.data(), strings.size());
  answer.length = discovery::kResponseMinimum + static_cast<int>(strings.size());
  return answer;
}

}  // namespace discoverytest
