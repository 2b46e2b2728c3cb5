// The no-echo knob: the kernel answers echo for a unit's address unless the
// knob's routing rule drops the reply. ICMP needs a raw socket, which the
// platform seam does not offer for ICMP, so this test uses POSIX directly.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SimTest.h"

namespace simtest {
namespace {

// Sends one echo request and waits up to a second for its reply.
bool Pings(const char* address) {
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return false;
  std::string request = Bytes({8, 0, 0, 0, 0x12, 0x34, 0, 1}) + std::string(32, 'a');
  unsigned sum = 0;
  for (std::size_t i = 0; i < request.size(); i += 2) {
    sum += static_cast<unsigned char>(request[i]) << 8 | static_cast<unsigned char>(request[i + 1]);
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  request[2] = static_cast<char>(~sum >> 8);
  request[3] = static_cast<char>(~sum & 0xFF);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = Ip(address);
  bool answered = false;
  if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target) == static_cast<ssize_t>(request.size())) {
    pollfd waiting{fd, POLLIN, 0};
    char reply[256];
    while (!answered && poll(&waiting, 1, 1000) == 1) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t got =
          recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &length);
      const int header = got > 0 ? (reply[0] & 0x0F) * 4 : 0;
      answered =
          got > header && reply[header] == 0 && from.sin_addr.s_addr == target.sin_addr.s_addr;
    }
  }
  close(fd);
  return answered;
}

class EchoTest : public SimTest {};

TEST_F(EchoTest, NoEchoKnobSilencesOnlyThatUnit) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2"), SimUnit("127.0.0.3").Knob("no-echo")})) << sim.Error();
  EXPECT_TRUE(Pings("127.0.0.2"));
  EXPECT_FALSE(Pings("127.0.0.3"));
  Tcp telnet;
  EXPECT_TRUE(LoginAsRoot(telnet, "127.0.0.3")) << "only echo is dropped";
  telnet.Close();
  ASSERT_TRUE(sim.Stop());
  EXPECT_TRUE(Pings("127.0.0.3")) << "the rule goes with the simulator";
}

}  // namespace
}  // namespace simtest
