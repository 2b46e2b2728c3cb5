// The telnet service of a unit (see TelnetService.h).
#include "TelnetService.h"

#include <errno.h>
#include <sys/socket.h>

#include "SocketIo.h"
#include "UnitShell.h"

namespace unitsim {

namespace {

const char kUser[] = "root";
const char kPassword[] = "qorvane";

}  // namespace

TelnetService::TelnetService(UnitRuntime& unit, EventLog& log, int fd)
    : unit_(unit), log_(log), fd_(fd) {}

void TelnetService::Run() {
  const UnitConfig& config = unit_.config;
  if (!config.negotiation.empty() && !Send(config.negotiation)) return;
  if (config.missingPrompt == MissingPrompt::kLogin) return Swallow("no-login-prompt");
  if (config.hasBanner && !Send(config.banner + "\r\n")) return;
  if (Login()) Shell();
}

bool TelnetService::Send(const std::string& text) {
  if (text.empty()) return true;
  lastSent_ = text.back();
  return SendText(fd_, text);
}

bool TelnetService::ReadByte(std::uint8_t* byte) {
  while (inputPos_ >= input_.size()) {
    char buffer[512];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    input_.assign(buffer, static_cast<std::size_t>(got));
    inputPos_ = 0;
  }
  *byte = static_cast<std::uint8_t>(input_[inputPos_++]);
  return true;
}

void TelnetService::LogItem(const TelnetItem& item) {
  if (item.kind == TelnetItem::kOption) {
    log_.Event("telnet_option", unit_.name)
        .Str("verb", VerbName(item.byte))
        .Int("option", item.option);
  } else if (item.kind == TelnetItem::kSubnegotiation) {
    auto line = log_.Event("telnet_subneg", unit_.name);
    line.Int("option", item.option)
        .Str("data", item.payload)
        .Bool("closed_by_se", item.byte == kSe);
    if (item.option == 24 && !item.payload.empty() && item.payload[0] == 0) {
      line.Str("ttype", item.payload.substr(1));
    }
    if (item.option == 31 && item.payload.size() == 4) {
      const auto* b = reinterpret_cast<const std::uint8_t*>(item.payload.data());
      line.Int("width", b[0] * 256 + b[1]).Int("height", b[2] * 256 + b[3]);
    }
  } else if (item.kind == TelnetItem::kCommand) {
    log_.Event("telnet_command", unit_.name).Int("command", item.byte);
  }
}

// A line ends at LF, CR LF, CR NUL or a CR followed by anything else; the
// event says which, since the installer must send a single LF.
bool TelnetService::ReadLine(const char* stage, std::string* line) {
  line->clear();
  bool afterCr = false;
  const char* end = "LF";
  for (;;) {
    std::uint8_t byte;
    if (held_) {
      byte = heldByte_;
      held_ = false;
    } else {
      if (!ReadByte(&byte)) return false;
      const TelnetItem item = parser_.Feed(byte);
      if (item.kind != TelnetItem::kData) {
        LogItem(item);
        continue;
      }
    }
    if (afterCr) {
      end = byte == '\n' ? "CRLF" : byte == 0 ? "CRNUL" : "CR";
      if (byte != '\n' && byte != 0) {
        held_ = true;
        heldByte_ = byte;
      }
      break;
    }
    if (byte == '\n') break;
    if (byte == '\r') {
      afterCr = true;
      continue;
    }
    *line += static_cast<char>(byte);
  }
  log_.Event("telnet_line", unit_.name).Str("stage", stage).Str("text", *line).Str("end", end);
  return true;
}

bool TelnetService::Login() {
  const UnitConfig& config = unit_.config;
  for (;;) {
    const bool newlineBefore = lastSent_ == '\n' || config.bareLogin;
    if (!Send(newlineBefore ? "login: " : "\r\nlogin: ")) return false;
    std::string user;
    if (!ReadLine("user", &user) || !Send(user + "\r\n")) return false;
    if (config.missingPrompt == MissingPrompt::kPassword) {
      Swallow("no-password-prompt");
      return false;
    }
    if (!Send(config.capitalPassword ? "Password: " : "password: ")) return false;
    std::string password;
    if (!ReadLine("password", &password) || !Send("\r\n")) return false;
    const bool accepted = user == kUser && password == kPassword && !config.refusePassword;
    log_.Event("login", unit_.name).Str("user", user).Bool("ok", accepted);
    if (accepted) return true;
    if (!Send("Login incorrect\r\n")) return false;
  }
}

bool TelnetService::SendPrompt() { return Send(lastSent_ == '\n' ? "# " : "\r\n# "); }

void TelnetService::Shell() {
  UnitShell shell(unit_.config, unit_.folder, unit_.scriptRuns);
  for (;;) {
    if (unit_.config.missingPrompt == MissingPrompt::kShell) return Swallow("no-shell-prompt");
    std::string line;
    if (!SendPrompt() || !ReadLine("command", &line) || !Send(line + "\r\n")) return;
    const ShellOutcome outcome = shell.Run(line);
    log_.Event("command", unit_.name)
        .Str("text", line)
        .Str("expanded", outcome.expanded)
        .Int("status", outcome.status)
        .Str("output", outcome.output);
    if (outcome.action == ShellOutcome::kRestart) {
      unit_.Restart();
      log_.Event("restart", unit_.name)
          .Str("path", outcome.scriptPath)
          .Int("down_ms", unit_.config.downMs);
      shutdown(fd_, SHUT_RDWR);
      return;
    }
    if (outcome.action == ShellOutcome::kExit) return;
    if (outcome.action == ShellOutcome::kRanScript) {
      if (outcome.status == 0) unit_.installed = true;
      log_.Event("install", unit_.name)
          .Str("path", outcome.scriptPath)
          .Int("status", outcome.status);
    }
    if (!Send(outcome.output)) return;
  }
}

// Reads and logs lines without ever answering: the unit hangs at this stage.
void TelnetService::Swallow(const char* stage) {
  std::string line;
  while (ReadLine(stage, &line)) {
  }
}

}  // namespace unitsim
