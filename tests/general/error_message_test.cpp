// The error line format, the base-name rule and the exception type.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "ErrorMessage.h"
#include "VEVException.h"

namespace {

// Runs `report` with the message stream pointed at a temporary file and
// returns what it wrote, plus the time-stamp texts of the seconds around it.
template <typename Report>
std::string Capture(Report report, std::string* before, std::string* after) {
  auto stamp = [] {
    const std::time_t now = std::time(nullptr);
    const std::tm local = *std::localtime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d %d:%d:%d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return std::string(text);
  };
  FILE* file = std::tmpfile();
  ZEQ::SetMessageOutputStream(file);
  *before = stamp();
  report();
  *after = stamp();
  ZEQ::SetMessageOutputStream(nullptr);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// The line with its time stamp (either second around the call) replaced by T.
std::string WithoutStamp(const std::string& line, const std::string& before,
                         const std::string& after) {
  for (const std::string* stamp : {&before, &after}) {
    const auto at = line.find(*stamp);
    if (at != std::string::npos) return line.substr(0, at) + "T" + line.substr(at + stamp->size());
  }
  return line;
}

TEST(ErrorMessageTest, FullFormWritesLevelCodeTimeLineBaseNameAndMessage) {
  std::string before, after;
  const std::string line = Capture(
      [] { ZEQ::ErrorMessage(3, "..\\..\\src\\iThreadPool", 89, 0, "TlsAlloc failed"); }, &before,
      &after);
  EXPECT_EQ(WithoutStamp(line, before, after), "3,0,T,89,iThreadPool,TlsAlloc failed\n");
}

TEST(ErrorMessageTest, FormatArgumentsAreFilledAndPercentTextIsAnArgument) {
  std::string before, after;
  const std::string line = Capture(
      [] { ZEQ::ErrorMessage(4, "broadcaster", 471, 10054, "failed (%d) %s", 10054, "100%"); },
      &before, &after);
  EXPECT_EQ(WithoutStamp(line, before, after), "4,10054,T,471,broadcaster,failed (10054) 100%\n");
}

TEST(ErrorMessageTest, FourArgumentFormEndsWithTheCommaAfterTheBaseName) {
  std::string before, after;
  const std::string line =
      Capture([] { ZEQ::ErrorMessage(4, "src/iThreadPool", 102, 87); }, &before, &after);
  EXPECT_EQ(WithoutStamp(line, before, after), "4,87,T,102,iThreadPool,\n");
}

TEST(ErrorMessageTest, BaseNameIsTakenAfterTheLastSlashFirst) {
  std::string before, after;
  auto report = [](const char* file) {
    return [file] { ZEQ::ErrorMessage(1, file, 7, 0); };
  };
  EXPECT_EQ(WithoutStamp(Capture(report("a\\b/c\\d"), &before, &after), before, after),
            "1,0,T,7,c\\d,\n");
  EXPECT_EQ(WithoutStamp(Capture(report("a/b/name"), &before, &after), before, after),
            "1,0,T,7,name,\n");
  EXPECT_EQ(WithoutStamp(Capture(report("plain"), &before, &after), before, after),
            "1,0,T,7,plain,\n");
}

TEST(ErrorMessageTest, TimeStampHasFourDigitYearAndNoLeadingZeros) {
  std::string before, after;
  const std::string line = Capture([] { ZEQ::ErrorMessage(2, "f", 1, 0, "x"); }, &before, &after);
  EXPECT_TRUE(line.find(before) != std::string::npos || line.find(after) != std::string::npos)
      << line;
  EXPECT_EQ(line.find("/0"), std::string::npos);
}

TEST(VEVExceptionTest, MessageSurvivesCopyAndAssignment) {
  const VEVException original("broadcaster -> socket call failed (10047)");
  const VEVException copy(original);
  VEVException assigned;
  EXPECT_EQ(assigned.message, "");
  assigned = original;
  EXPECT_EQ(copy.message, original.message);
  EXPECT_EQ(assigned.message, "broadcaster -> socket call failed (10047)");
}

}  // namespace
