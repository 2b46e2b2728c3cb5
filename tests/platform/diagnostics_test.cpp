// The diagnostics that name the system's own parts, byte for byte on each
// platform: Windows keeps the program's fixed texts, Linux names pathkeeper,
// the echo socket and the interface and adds the system's message.
#include <gtest/gtest.h>

#include <string>

#include "platform/Errors.h"
#include "platform/HelperLauncher.h"
#include "platform/Icmp.h"
#include "platform/RouteTable.h"

namespace {

#ifdef _WIN32

TEST(DiagnosticsTest, WindowsKeepsTheFixedTexts) {
  EXPECT_EQ(platform::HelperLaunchFailureLine(1223), "Could not start pathkeeper.exe 1223\n");
  EXPECT_EQ(platform::HelperEndedFailureLine(1), "Could not start pathkeeper.exe 1\n");
  EXPECT_EQ(platform::EchoOpenFailureText(5), "IcmpCreateFile() failed, err: ");
  EXPECT_EQ(platform::EchoFailureText(11010), "IcmpSendEcho() failed, err: 11010");
  EXPECT_EQ(platform::RouteAddFailureLine(87, platform::kNoInterfaceIndex, 0),
            "Could not add route 87 interface num 4294967295 metric 0\n");
}

#else

TEST(DiagnosticsTest, LinuxNamesItsOwnPartsAndTheReason) {
  EXPECT_EQ(platform::HelperLaunchFailureLine(13),
            "Could not start pathkeeper: Permission denied (13)\n");
  EXPECT_EQ(platform::HelperEndedFailureLine(126),
            "Could not start pathkeeper: pkexec ended with 126, the administrator's consent was "
            "not given\n");
  EXPECT_EQ(platform::HelperEndedFailureLine(1),
            "Could not start pathkeeper: it ended with exit code 1 before it connected\n");
  EXPECT_EQ(platform::EchoFailureText(11010),
            "ping through the echo socket failed, err: 11010 (request timed out)");
  EXPECT_EQ(platform::RouteAddFailureLine(87, platform::kNoInterfaceIndex, 0),
            "Could not add route 87 (Invalid argument) interface none metric 0\n");
  EXPECT_EQ(platform::RouteAddFailureLine(80, 1, 5),
            "Could not add route 80 (File exists) interface lo metric 5\n");
}

// A ping that is not permitted says how to allow pings, once.
TEST(DiagnosticsTest, LinuxSaysOnceHowToAllowPings) {
  const std::string first = platform::EchoFailureText(platform::kErrorAccessDenied);
  const std::string second = platform::EchoFailureText(platform::kErrorAccessDenied);
  EXPECT_EQ(first,
            "ping through the echo socket failed, err: 5 (Operation not permitted); pings need "
            "root, or the user's group in sysctl net.ipv4.ping_group_range");
  EXPECT_EQ(second, "ping through the echo socket failed, err: 5 (Operation not permitted)");
}

#endif

}  // namespace
