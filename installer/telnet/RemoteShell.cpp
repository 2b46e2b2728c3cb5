// The login dialogue and the install command sequence, driven through the
// session's WaitFor and Send. The steps always run in order whatever the
// earlier ones returned: once the connection is gone every later wait
// returns 0 at once, so a failure falls straight through to the end.
#include "telnet/RemoteShell.h"

#include <cstdint>
#include <limits>

namespace {

// "echo $?" and its line end, as the unit echoes it back.
constexpr std::size_t kEchoedCommandLength = 9;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int Login(TelnetSession& session) {
  std::string result;
  session.setLoginStage(kLoginNotLoggedIn);
  if (session.WaitFor(session.getLoginPrompt(), result, "") == 1) {
    session.setLoginStage(kLoginUserNameSent);
    session.Send(session.getUserName());
  }
  if (session.WaitFor(session.getPasswordPrompt(), result, "") == 1) {
    session.setLoginStage(kLoginPasswordSent);
    session.Send(session.getPassword());
  }
  // A refused password brings the login prompt back.
  const int shell = session.WaitFor(session.getShellPrompt(), result, session.getLoginPrompt());
  session.setLoginStage(shell == 1 ? kLoginLoggedIn : kLoginNotLoggedIn);
  return session.getLoginStage();
}

std::string RunCommand(TelnetSession& session, const std::string& command) {
  std::string response;
  if (session.getLoginStage() != kLoginLoggedIn) return response;
  if (session.Send(command) == -1) return response;
  if (session.WaitFor(session.getShellPrompt(), response, "") != 1) response.clear();
  return response;
}

int RunInstallScript(TelnetSession& session, const std::string& path) {
  RunCommand(session, "ditto -k /dev/con1");
  RunCommand(session, "chmod +x " + path);
  RunCommand(session, "textto " + path);
  RunCommand(session, path);
  // The second line feed is an empty command line; its extra prompt arrives
  // after the match and is discarded with the rest of the buffer.
  return ReadExitStatus(RunCommand(session, "echo $?\n"));
}

int ReadExitStatus(const std::string& response) {
  if (response.size() < kEchoedCommandLength) return -1;
  std::size_t at = kEchoedCommandLength;
  while (at < response.size() && IsSpace(response[at])) ++at;
  bool negative = false;
  if (at < response.size() && (response[at] == '+' || response[at] == '-')) {
    negative = response[at] == '-';
    ++at;
  }
  if (at == response.size() || !IsDigit(response[at])) return kUnreadableExitStatus;
  // The magnitude may reach one more than INT_MAX for a negative number.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<int>::min())
                                      : std::numeric_limits<int>::max();
  std::int64_t magnitude = 0;
  for (; at < response.size() && IsDigit(response[at]); ++at) {
    magnitude = magnitude * 10 + (response[at] - '0');
    if (magnitude > limit) return kUnreadableExitStatus;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}
