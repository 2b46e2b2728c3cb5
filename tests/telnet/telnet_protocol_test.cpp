// Golden byte scripts for the telnet client's parser and reply rule: bytes
// from the unit go in, and the test compares what the session would append
// to its response, send back (in order), and report as unknown commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteText.h"
#include "telnet/TelnetProtocol.h"

namespace {

using namespace std::string_literals;

struct Outcome {
  std::string response;
  std::string sent;
  std::vector<int> unknown;
};

using testsupport::Bytes;

Outcome Play(const std::string& input) {
  TelnetProtocol protocol;
  Outcome outcome;
  for (char c : input) {
    const TelnetStep step = protocol.Feed(static_cast<std::uint8_t>(c));
    if (step.hasData) outcome.response.push_back(static_cast<char>(step.data));
    outcome.sent.append(reinterpret_cast<const char*>(step.reply), step.replyLength);
    if (step.announcement != nullptr) {
      outcome.sent.append(reinterpret_cast<const char*>(step.announcement),
                          step.announcementLength);
    }
    if (step.unknownCommand >= 0) outcome.unknown.push_back(step.unknownCommand);
  }
  return outcome;
}

const std::string kXterm = Bytes({255, 250, 24, 0, 88, 84, 69, 82, 77, 255, 240});
const std::string kNaws = Bytes({255, 250, 31, 0, 80, 0, 25, 255, 240});

TEST(TelnetProtocolTest, DoTerminalTypeIsAcceptedAndTheTypeAnnouncedUnasked) {
  const Outcome outcome = Play(Bytes({255, 253, 24}));
  EXPECT_EQ(outcome.sent, Bytes({255, 251, 24}) + kXterm);
  EXPECT_EQ(outcome.response, "");
}

// The whole reply table (WILL 1 gets DONT 1, DO 1 gets WONT 1, WONT 3 gets
// DO 3, DONT 31 gets DO 31 ...): each verb against the supported options and
// unsupported ones, and the unasked messages after every verb about 24 and 31.
TEST(TelnetProtocolTest, ReplyTableCoversEveryVerbAndOption) {
  struct Row {
    int received, option, replyVerb;
  };
  const Row rows[] = {{253, 3, 251}, {253, 24, 251}, {253, 31, 251}, {253, 5, 252},
                      {251, 3, 253}, {251, 24, 253}, {251, 31, 253}, {251, 5, 254},
                      {252, 3, 253}, {252, 24, 253}, {252, 31, 253}, {252, 0, 254},
                      {254, 3, 253}, {254, 24, 253}, {254, 31, 253}, {254, 255, 254},
                      {251, 1, 254}, {253, 1, 252}};
  for (const Row& row : rows) {
    std::string expected = Bytes({255, row.replyVerb, row.option});
    if (row.option == 24) expected += kXterm;
    if (row.option == 31) expected += kNaws;
    EXPECT_EQ(Play(Bytes({255, row.received, row.option})).sent, expected)
        << "verb " << row.received << " option " << row.option;
  }
}

TEST(TelnetProtocolTest, RepeatedNegotiationIsAnsweredEveryTime) {
  const Outcome outcome = Play(Bytes({255, 253, 3, 255, 253, 3, 255, 252, 3}));
  EXPECT_EQ(outcome.sent, Bytes({255, 251, 3, 255, 251, 3, 255, 253, 3}));
}

TEST(TelnetProtocolTest, IacIacIsOneDataByte255) {
  const Outcome outcome = Play(Bytes({'a', 255, 255, 'b'}));
  EXPECT_EQ(outcome.response, Bytes({'a', 255, 'b'}));
  EXPECT_EQ(outcome.sent, "");
}

TEST(TelnetProtocolTest, SubNegotiationFromTheUnitIsNoiseAroundData) {
  const Outcome outcome = Play(Bytes({255, 250, 24, 1, 255, 240}));
  EXPECT_EQ(outcome.unknown, (std::vector<int>{250, 240}));
  EXPECT_EQ(outcome.response, Bytes({24, 1}));
  EXPECT_EQ(outcome.sent, "");
}

TEST(TelnetProtocolTest, OtherCommandsAreReportedAndDataResumes) {
  // GA 249, NOP 241, and a 0 after IAC.
  const Outcome outcome = Play(Bytes({255, 249, 'x', 255, 241, 255, 0, 'y'}));
  EXPECT_EQ(outcome.unknown, (std::vector<int>{249, 241, 0}));
  EXPECT_EQ(outcome.response, "xy");
}

TEST(TelnetProtocolTest, OptionByteAfterAVerbIsNeverData) {
  // IAC DO IAC: 255 is taken as the option, answered WONT, not as data.
  const Outcome outcome = Play(Bytes({255, 253, 255, 'z'}));
  EXPECT_EQ(outcome.sent, Bytes({255, 252, 255}));
  EXPECT_EQ(outcome.response, "z");
}

TEST(TelnetProtocolTest, PlainTextAndCarriageReturnsPassThrough) {
  const std::string text = "Tarvo\r\nlogin: \0x"s;
  EXPECT_EQ(Play(text).response, text);
}

}  // namespace
