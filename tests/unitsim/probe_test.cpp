// The device-link probe: the response's bytes, the address it goes to, the
// ports a unit answers on.
#include <gtest/gtest.h>

#include <set>

#include "SimTest.h"

namespace simtest {
namespace {

class ProbeTest : public SimTest {};

std::string Strings(std::initializer_list<std::string> texts) {
  std::string out;
  for (const std::string& text : texts) out += text + std::string(1, '\0');
  return out;
}

TEST_F(ProbeTest, ResponseGoesToTheSocketAddressInTheProbe) {
  ASSERT_TRUE(Start(
      {SimUnit("127.0.0.2").Node(0x0304).Group("North").Version("2.1").Mac("00:11:22:33:44:55")}))
      << sim.Error();
  Udp sender;
  Udp deviceLink;  // the installer's device-link socket, named inside the probe
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  ASSERT_TRUE(sender.SendTo(Probe(Ip("127.0.0.1"), deviceLink.port()), "127.0.0.2", 55329));
  std::string response;
  platform::SocketAddressIn from{};
  ASSERT_TRUE(deviceLink.Receive(&response, &from, 3000));
  const std::string expected =
      Bytes({0x02, 0x01, 0, 0, 0xD8, 0x21, 127,  0, 0, 2,    0,    0,    0,
             0,    0,    0, 0, 0,    0x04, 0x03, 0, 0, 0x20, 0x03, 0xE0, 0x01}) +
      Strings({"Tarvo", "00:11:22:33:44:55",
               "North\x1f"
               "2.1",
               "unitsim"});
  EXPECT_EQ(Hex(response), Hex(expected));
  EXPECT_EQ(from.address, Ip("127.0.0.2"));
  std::string nothing;
  EXPECT_FALSE(sender.Receive(&nothing, nullptr, 300)) << "the probe's sender got an answer";
}

TEST_F(ProbeTest, ThirdStringIsTheGroupAloneWithoutVersion) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Group("Solo")})) << sim.Error();
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  ASSERT_TRUE(deviceLink.SendTo(Probe(Ip("127.0.0.1"), deviceLink.port()), "127.0.0.2", 55329));
  std::string response;
  ASSERT_TRUE(deviceLink.Receive(&response, nullptr, 3000));
  ASSERT_GE(response.size(), 26u);
  EXPECT_EQ(Hex(response.substr(26)),
            Hex(Strings({"Tarvo", "02:00:7f:00:00:02", "Solo", "unitsim"})));
}

TEST_F(ProbeTest, UnitAnswersOnItsExtraPortAndOnTheCommonPortOverride) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("probe-port=40001"), SimUnit("127.0.0.3")},
                    {"--probe-port", "40002"}))
      << sim.Error();
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  const std::string probe = Probe(Ip("127.0.0.1"), deviceLink.port());
  std::string response;
  platform::SocketAddressIn from{};
  ASSERT_TRUE(deviceLink.SendTo(probe, "127.0.0.2", 40001));
  ASSERT_TRUE(deviceLink.Receive(&response, &from, 3000));
  EXPECT_EQ(from.address, Ip("127.0.0.2"));
  EXPECT_EQ(Hex(response.substr(4, 2)), Hex(Bytes({40001 >> 8, 40001 & 0xFF})));
  ASSERT_TRUE(deviceLink.SendTo(probe, "127.0.0.3", 40002));
  ASSERT_TRUE(deviceLink.Receive(&response, &from, 3000));
  EXPECT_EQ(from.address, Ip("127.0.0.3"));
  ASSERT_TRUE(deviceLink.SendTo(probe, "127.0.0.3", 40001));
  EXPECT_FALSE(deviceLink.Receive(&response, nullptr, 300)) << "only 127.0.0.2 has port 40001";
}

TEST_F(ProbeTest, BroadcastProbeIsAnsweredByEveryUnit) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2"), SimUnit("127.0.0.3")})) << sim.Error();
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  ASSERT_TRUE(
      deviceLink.SendTo(Probe(Ip("127.0.0.1"), deviceLink.port()), "127.255.255.255", 55329));
  std::set<std::uint32_t> senders;
  std::string response;
  platform::SocketAddressIn from{};
  while (deviceLink.Receive(&response, &from, 1000)) senders.insert(from.address);
  EXPECT_EQ(senders, (std::set<std::uint32_t>{Ip("127.0.0.2"), Ip("127.0.0.3")}));
}

TEST_F(ProbeTest, MalformedProbesAreIgnored) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  std::string probe = Probe(Ip("127.0.0.1"), deviceLink.port());
  std::string wrongStart = probe;
  wrongStart[1] = 0x02;
  std::string wrongFamily = probe;
  wrongFamily[2] = 0x17;
  for (const std::string& bad : {probe.substr(0, 17), probe + "x", wrongStart, wrongFamily}) {
    ASSERT_TRUE(deviceLink.SendTo(bad, "127.0.0.2", 55329));
  }
  std::string response;
  EXPECT_FALSE(deviceLink.Receive(&response, nullptr, 500)) << Hex(response);
  EXPECT_TRUE(sim.WaitForCount("udp_ignored", "", 4, 2000));
}

}  // namespace
}  // namespace simtest
