// Dotted quads on both platforms: the text a unit's address is shown with,
// and the strict reading that the probe response and the tests rely on (as
// strict as the systems' inet_pton, which both sides used before).
#include "platform/Addresses.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "LoopbackNet.h"

namespace {

using testsupport::AddressOfOctets;

TEST(AddressesTest, FormatsTheFirstOctetFirstAndEmptiesATextThatDoesNotFit) {
  char text[16];
  platform::FormatAddress(AddressOfOctets(192, 168, 1, 10), text, sizeof text);
  EXPECT_STREQ(text, "192.168.1.10");
  platform::FormatAddress(AddressOfOctets(255, 255, 255, 255), text, sizeof text);
  EXPECT_STREQ(text, "255.255.255.255");
  char small[8] = "xxxxxxx";
  platform::FormatAddress(AddressOfOctets(10, 0, 0, 100), small, sizeof small);
  EXPECT_STREQ(small, "") << "a cut address would name another unit";
}

TEST(AddressesTest, ReadsOnlyFourDecimalPartsUpTo255WithoutLeadingZeros) {
  std::uint32_t address = 0;
  ASSERT_TRUE(platform::ParseAddress("10.0.0.255", &address));
  EXPECT_EQ(address, AddressOfOctets(10, 0, 0, 255));
  ASSERT_TRUE(platform::ParseAddress("0.0.0.0", &address));
  EXPECT_EQ(address, 0u);
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.3.04", "1.2.3.00", "1..2.3", ".1.2.3",
        "1.2.3.4.", " 1.2.3.4", "1.2.3.4 ", "1.2.3.x", "0x1.2.3.4", "1.2.3.1000", "-1.2.3.4"}) {
    address = 7;
    EXPECT_FALSE(platform::ParseAddress(bad, &address)) << '"' << bad << '"';
    EXPECT_EQ(address, 7u) << "untouched on failure: \"" << bad << '"';
  }
}

TEST(AddressesTest, EveryAddressReadsBackAsItWasWritten) {
  for (const std::uint32_t address :
       {AddressOfOctets(1, 2, 3, 4), AddressOfOctets(127, 0, 0, 1), AddressOfOctets(10, 20, 1, 21),
        AddressOfOctets(0, 9, 99, 199)}) {
    char text[16];
    platform::FormatAddress(address, text, sizeof text);
    std::uint32_t read = 0;
    ASSERT_TRUE(platform::ParseAddress(text, &read)) << text;
    EXPECT_EQ(read, address) << text;
  }
}

}  // namespace
