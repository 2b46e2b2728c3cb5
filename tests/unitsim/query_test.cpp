// The record query on UDP 55330: the reply's exact bytes, where it goes, and
// which datagrams get none.
#include <gtest/gtest.h>

#include <set>

#include "SimTest.h"

namespace simtest {
namespace {

// Header entries of the reply record: type, declared size for blobs, name.
std::string Blob(const char* name, int size) {
  return Bytes({0x41, 0x00, size, 0x00}) + name + std::string(1, '\0');
}
std::string Entry(int type, const char* name) {
  return Bytes({type, 0x00}) + name + std::string(1, '\0');
}

class QueryTest : public SimTest {
 protected:
  // The host's discovery receiver: 0.0.0.0:55330 with address reuse.
  bool Listen() { return receiver.Bind("0.0.0.0", 55330); }
  Udp receiver;
};

TEST_F(QueryTest, QueryDatagramIsTheDocumented108Bytes) {
  const std::string query = QueryDatagram();
  EXPECT_EQ(query.size(), 108u);
  EXPECT_EQ(query.substr(0, 5), Bytes({0x01, 0x00, 0x01, 0x00, 0x00}));
}

TEST_F(QueryTest, ReplyCarriesEveryElementOfTheUnit) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")
                         .Node(258)
                         .Group("North")
                         .Version("2.1")
                         .Mac("00:11:22:33:44:55")
                         .Gateway("10.0.0.1")}))
      << sim.Error();
  ASSERT_TRUE(Listen());
  Udp asker;
  ASSERT_TRUE(asker.Bind("127.0.0.1", 0));
  ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.0.0.2", 55330));
  std::string reply;
  platform::SocketAddressIn from{};
  ASSERT_TRUE(receiver.Receive(&reply, &from, 3000));
  const std::string header = Blob("IPAddress", 4) + Blob("FromIP", 4) + Entry(2, "Node") +
                             Entry(8, "Group") + Blob("MAC", 6) + Entry(8, "Version") +
                             Blob("VXMGW", 4) + Bytes({0, 0});
  const std::string data = Bytes({127, 0, 0, 2, 127, 0, 0, 1, 0x02, 0x01}) + "North" +
                           std::string(1, '\0') + Bytes({0x00, 0x11, 0x22, 0x33, 0x44, 0x55}) +
                           "2.1" + std::string(1, '\0') + Bytes({10, 0, 0, 1});
  EXPECT_EQ(Hex(reply), Hex(Bytes({0x01, 0x00, 0x01, 0x80, 0x00}) + header + data));
  EXPECT_EQ(from.address, Ip("127.0.0.2"));
  EXPECT_EQ(from.port, 0x22D8);  // 55330 in network byte order
}

TEST_F(QueryTest, ReplyLeavesOutVersionAndGatewayTheUnitLacks) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.5").Node(7).Group("G")})) << sim.Error();
  ASSERT_TRUE(Listen());
  Udp asker;
  ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.0.0.5", 55330));
  std::string reply;
  ASSERT_TRUE(receiver.Receive(&reply, nullptr, 3000));
  const std::string expected =
      Bytes({0x01, 0x00, 0x01, 0x80, 0x00}) + Blob("IPAddress", 4) + Blob("FromIP", 4) +
      Entry(2, "Node") + Entry(8, "Group") + Blob("MAC", 6) + Bytes({0, 0}) +
      Bytes({127, 0, 0, 5, 127, 0, 0, 1, 7, 0, 'G', 0, 0x02, 0x00, 127, 0, 0, 5});
  EXPECT_EQ(Hex(reply), Hex(expected));
}

TEST_F(QueryTest, FromIpIsTheAddressTheQueryCameFrom) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  ASSERT_TRUE(Listen());
  Udp asker;
  ASSERT_TRUE(asker.Bind("127.0.0.9", 0));
  ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.0.0.2", 55330));
  std::string reply;
  ASSERT_TRUE(receiver.Receive(&reply, nullptr, 3000));
  // Data section: IPAddress then FromIP, right after the header's terminator.
  const std::size_t data = reply.find(std::string("MAC") + '\0') + 4 + 2;
  ASSERT_LT(data + 8, reply.size());
  EXPECT_EQ(Hex(reply.substr(data + 4, 4)), Hex(Bytes({127, 0, 0, 9})));
  testsupport::SimEvent event;
  ASSERT_TRUE(sim.WaitForEvent("query", "127.0.0.2", 2000, &event));
  EXPECT_EQ(event.Str("reply_to"), "127.0.0.9:55330");
}

TEST_F(QueryTest, DirectedBroadcastIsAnsweredByEveryUnitOfTheSubnet) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2"), SimUnit("127.0.0.3"), SimUnit("127.1.0.4")}))
      << sim.Error();
  ASSERT_TRUE(Listen());
  Udp asker;
  ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.255.255.255", 55330));
  std::set<std::uint32_t> senders;
  std::string reply;
  platform::SocketAddressIn from{};
  while (receiver.Receive(&reply, &from, 1000)) {
    if (IsReply(reply)) senders.insert(from.address);  // the query itself is heard too
  }
  EXPECT_EQ(senders, (std::set<std::uint32_t>{Ip("127.0.0.2"), Ip("127.0.0.3"), Ip("127.1.0.4")}));
}

TEST_F(QueryTest, DatagramsThatAreNotQueriesGetNoReply) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  ASSERT_TRUE(Listen());
  Udp asker;
  std::string heardBack = QueryDatagram();
  heardBack[3] = static_cast<char>(0x80);  // a reply's word: bit 31 set
  std::string cutName = QueryDatagram().substr(0, 20);
  for (const std::string& datagram : {heardBack, cutName, Bytes({1, 0, 1, 0}), std::string()}) {
    ASSERT_TRUE(asker.SendTo(datagram, "127.0.0.2", 55330));
  }
  std::string reply;
  EXPECT_FALSE(receiver.Receive(&reply, nullptr, 500)) << Hex(reply);
  EXPECT_TRUE(sim.WaitFor(
      [](const auto& e) {
        return e.event() == "udp_ignored" && e.Str("reason") == "record unreadable";
      },
      2000));
  EXPECT_TRUE(sim.WaitForCount("udp_ignored", "", 4, 2000));
}

TEST_F(QueryTest, QueryEventNamesWhatWasAsked) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  ASSERT_TRUE(Listen());
  Udp asker;
  ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.0.0.2", 55330));
  testsupport::SimEvent event;
  ASSERT_TRUE(sim.WaitForEvent("query", "127.0.0.2", 2000, &event));
  EXPECT_EQ(event.Int("length"), 108);
  EXPECT_EQ(event.Int("mode"), 0);
  EXPECT_TRUE(event.Bool("all_null"));
  EXPECT_EQ(event.Str("names"),
            "ReplyTarvoProxy,ReplyTarvo,Node,IPAddress,NetMask,FromIP,MAC,Group,Version,VXMGW");
}

// A unit with no-query still answers the probe, one with no-probe still
// answers the query, and each logs what it kept silent about.
TEST_F(QueryTest, DiscoveryKnobsSilenceOneResponderEach) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("no-query"), SimUnit("127.0.0.3").Knob("no-probe")}))
      << sim.Error();
  ASSERT_TRUE(Listen());
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  ASSERT_TRUE(deviceLink.SendTo(QueryDatagram(), "127.255.255.255", 55330));
  ASSERT_TRUE(
      deviceLink.SendTo(Probe(Ip("127.0.0.1"), deviceLink.port()), "127.255.255.255", 55329));
  std::set<std::uint32_t> queryAnswers;
  std::string reply;
  platform::SocketAddressIn from{};
  while (receiver.Receive(&reply, &from, 1000)) {
    if (IsReply(reply)) queryAnswers.insert(from.address);
  }
  std::set<std::uint32_t> probeAnswers;
  while (deviceLink.Receive(&reply, &from, 300)) probeAnswers.insert(from.address);
  EXPECT_EQ(queryAnswers, (std::set<std::uint32_t>{Ip("127.0.0.3")}));
  EXPECT_EQ(probeAnswers, (std::set<std::uint32_t>{Ip("127.0.0.2")}));
  testsupport::SimEvent event;
  ASSERT_TRUE(sim.WaitForEvent("silent", "127.0.0.2", 2000, &event));
  EXPECT_EQ(event.Str("service"), "query");
  ASSERT_TRUE(sim.WaitForEvent("silent", "127.0.0.3", 2000, &event));
  EXPECT_EQ(event.Str("service"), "probe");
}

}  // namespace
}  // namespace simtest
