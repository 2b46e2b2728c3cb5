// The address list: how a line is read (host name or dotted address, the
// port that carries on), where the file is looked for, and its lines read in
// pieces of 199 characters.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "AddressList.h"
#include "DeviceLinkProbe.h"
#include "DiscoveryTestSupport.h"
#include "platform/NameLookup.h"

namespace {

using udptest::Address;
using udptest::Text;

struct LineCase {
  const char* line;
  bool isHostName;
  const char* hostName;
  const char* address;
  int port;
};

TEST(AddressListTest, LinesAreHostNamesOrDottedAddresses) {
  const LineCase cases[] = {
      {"10.0.0.7:4000\n", false, "", "10.0.0.7", 4000},
      {"10.0.0.8\n", false, "", "10.0.0.8", 0},
      {"10.0.0.9#4001\r\n", false, "", "10.0.0.9", 4001},
      {"10.0.0.9:4002#4003", false, "", "10.0.0.9", 4002},
      {"192.168.1\n", false, "", "192.168.0.0", 0},  // two dots: two octets
      {"192.168\n", false, "", "192.0.0.0", 0},      // one dot: one octet
      {"192:4000\n", false, "", "0.0.0.0", 0},       // no dot: nothing, no port
      {"10.0:4000\n", false, "", "10.0.0.0", 0},     // a port only after the fourth part
      {"10.0.0.300\n", false, "", "0.0.0.0", 0},     // not an address
      {"10.0.0.7:0\n", false, "", "10.0.0.7", 0},    // not a port
      {"10.0.0.7:70000", false, "", "10.0.0.7", 0},
      {"10.0.0.7:99999999999999999999", false, "", "10.0.0.7", 0},
      {"\n", false, "", "0.0.0.0", 0},
      {"unit7.example:4000\n", true, "unit7.example", "0.0.0.0", 4000},
      {"unit7#4001\n", true, "unit7", "0.0.0.0", 4001},
      {"  unit7 \r\n", true, "unit7", "0.0.0.0", 0},  // looked up without the line end
      {"\tunit7\v\f\n", true, "unit7", "0.0.0.0", 0},
      {"unit7:\n", true, "unit7", "0.0.0.0", 0},
      {"10.0.0.7 # spare\n", true, "10.0.0.7", "0.0.0.0", 0},
  };
  for (const LineCase& c : cases) {
    const discovery::AddressLine parsed = discovery::ParseAddressLine(c.line);
    EXPECT_EQ(parsed.isHostName, c.isHostName) << c.line;
    EXPECT_EQ(parsed.hostName, c.hostName) << c.line;
    EXPECT_EQ(Text(parsed.address), c.address) << c.line;
    EXPECT_EQ(parsed.port, c.port) << c.line;
  }
}

TEST(AddressListTest, ResolveAddressLooksNamesUpAndKeepsThePortOfEarlierLines) {
  ZEQ_REQUIRE_NETNS();  // lookups stay inside the test's own network
  std::uint16_t port = 55329;
  EXPECT_EQ(Text(discovery::ResolveAddress("localhost:4000\n", &port)), "127.0.0.1");
  EXPECT_EQ(port, 4000);
  EXPECT_EQ(Text(discovery::ResolveAddress("localhost\n", &port)), "127.0.0.1");
  EXPECT_EQ(Text(discovery::ResolveAddress("10.0.0.8\n", &port)), "10.0.0.8");
  EXPECT_EQ(port, 4000);
  EXPECT_EQ(discovery::ResolveAddress("no-such-unit.invalid#4100\n", &port), 0u);
  EXPECT_EQ(port, 4100);
  EXPECT_EQ(discovery::ResolveAddress(":4200 x\n", &port), 0u) << "an empty name";
  EXPECT_EQ(port, 4200);
}

TEST(AddressListTest, ServicePortAndOwnAddress) {
  ZEQ_REQUIRE_NETNS();
  EXPECT_EQ(platform::ServicePortByName(discovery::kProbeServiceName), 0);
  EXPECT_EQ(discovery::ProbeServicePort(), 55329);
  // A name every services database holds shows the lookup itself works.
  EXPECT_EQ(platform::ServicePortByName("telnet"), 23);
  char name[51];
  ASSERT_TRUE(platform::LocalHostName(name, sizeof name));
  std::uint32_t address = 0;
  if (platform::LookupHostAddress(name, &address)) {
    EXPECT_EQ(discovery::OwnHostAddress(), address);
  } else {
    EXPECT_EQ(discovery::OwnHostAddress(), 0u);
  }
  char tiny[2];
  if (platform::LocalHostName(tiny, sizeof tiny)) {
    EXPECT_EQ(tiny[1], '\0');
  }
}

std::vector<std::string> ReadAll() {
  discovery::AddressListFile list;
  std::vector<std::string> lines;
  std::string line;
  while (list.NextLine(&line)) lines.push_back(line);
  return lines;
}

TEST(AddressListTest, LongLinesComeInPiecesOf199Characters) {
  discoverytest::ScratchFolder folder("discovery-long-lines");
  const std::string longLine(450, '1');
  folder.Write("tarvo_ip_list.txt", "10.0.0.7\n" + longLine + "\nlast");
  const std::vector<std::string> lines = ReadAll();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "10.0.0.7\n");
  EXPECT_EQ(lines[1], std::string(199, '1'));
  EXPECT_EQ(lines[2], std::string(199, '1'));
  EXPECT_EQ(lines[3], std::string(52, '1') + "\n");
  EXPECT_EQ(lines[4], "last");
}

TEST(AddressListTest, FileInTheFolderComesBeforeTheAccessoriesOne) {
  discoverytest::ScratchFolder folder("discovery-list-places");
  EXPECT_FALSE(discovery::AddressListFile().IsOpen());
  folder.Write("accessories/tarvo_ip_list.txt", "10.0.0.2\n");
  EXPECT_EQ(ReadAll(), (std::vector<std::string>{"10.0.0.2\n"}));
  folder.Write("tarvo_ip_list.txt", "10.0.0.1\n");
  EXPECT_EQ(ReadAll(), (std::vector<std::string>{"10.0.0.1\n"}));
}

}  // namespace
