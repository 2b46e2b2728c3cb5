// The unit's root shell (see UnitShell.h). Messages imitate a small Unix
// shell's, so a human reading a session log recognises them; the installer
// itself only reads the status of "echo $?".
#include "UnitShell.h"

#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "UnitFiles.h"

namespace unitsim {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

void SplitFirstWord(const std::string& line, std::string* word, std::string* rest) {
  const auto gap = line.find_first_of(" \t");
  *word = line.substr(0, gap);
  *rest = gap == std::string::npos ? std::string() : Trim(line.substr(gap));
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

UnitShell::UnitShell(const UnitConfig& unit, std::string unitFolder, std::atomic<int>& scriptRuns)
    : unit_(unit), folder_(std::move(unitFolder)), scriptRuns_(scriptRuns) {}

std::string UnitShell::Expand(const std::string& line) const {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '$' || i + 1 >= line.size()) {
      out += line[i];
      continue;
    }
    std::string name;
    if (line[i + 1] == '?') {
      out += std::to_string(lastStatus_);
      ++i;
      continue;
    }
    if (line[i + 1] == '{' && line.find('}', i + 2) != std::string::npos) {
      const auto close = line.find('}', i + 2);
      name = line.substr(i + 2, close - i - 2);
      i = close;
    } else {
      std::size_t end = i + 1;
      while (end < line.size() && IsNameChar(line[end])) ++end;
      if (end == i + 1) {
        out += '$';
        continue;
      }
      name = line.substr(i + 1, end - i - 1);
      i = end - 1;
    }
    // Unset variables expand to nothing, as in sh.
    if (name == "rsa") out += unit_.rsa;
  }
  return out;
}

ShellOutcome UnitShell::Run(const std::string& line) {
  ShellOutcome outcome;
  outcome.expanded = Trim(Expand(line));
  if (outcome.expanded.empty()) {
    outcome.status = lastStatus_;
    return outcome;
  }
  std::string command;
  std::string args;
  SplitFirstWord(outcome.expanded, &command, &args);
  if (command == "ditto")
    Ditto(args, &outcome);
  else if (command == "chmod")
    Chmod(args, &outcome);
  else if (command == "textto")
    Textto(args, &outcome);
  else if (command == "echo")
    outcome.output = args + "\r\n";
  else if (command == "exit")
    outcome.action = ShellOutcome::kExit;
  else if (command.find('/') != std::string::npos)
    RunScript(command, &outcome);
  else {
    outcome.output = "sh: " + command + ": not found\r\n";
    outcome.status = 127;
  }
  lastStatus_ = outcome.status;
  return outcome;
}

void UnitShell::Ditto(const std::string& args, ShellOutcome* outcome) const {
  // Copies the console to the given device; nothing to show here.
  if (args != "-k /dev/con1") {
    outcome->output = "usage: ditto -k DEVICE\r\n";
    outcome->status = 1;
  }
}

void UnitShell::Chmod(const std::string& args, ShellOutcome* outcome) const {
  std::string mode;
  std::string path;
  SplitFirstWord(args, &mode, &path);
  const std::string local = ResolveUnitPath(folder_, path);
  struct stat status;
  if (mode != "+x" || path.empty()) {
    outcome->output = "usage: chmod +x FILE\r\n";
    outcome->status = 1;
  } else if (local.empty() || stat(local.c_str(), &status) != 0) {
    outcome->output = "chmod: " + path + ": No such file or directory\r\n";
    outcome->status = 1;
  } else {
    chmod(local.c_str(), (status.st_mode & 07777) | 0111);
  }
}

void UnitShell::Textto(const std::string& args, ShellOutcome* outcome) const {
  const std::string local = ResolveUnitPath(folder_, args);
  std::ifstream in(local, std::ios::binary);
  if (local.empty() || !in) {
    outcome->output = "textto: " + args + ": cannot open\r\n";
    outcome->status = 1;
    return;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::string unix;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    unix += text[i];
  }
  std::ofstream(local, std::ios::binary | std::ios::trunc) << unix;
}

void UnitShell::RunScript(const std::string& path, ShellOutcome* outcome) const {
  const std::string local = ResolveUnitPath(folder_, path);
  struct stat status;
  outcome->scriptPath = path;
  if (local.empty() || stat(local.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    outcome->output = "sh: " + path + ": not found\r\n";
    outcome->status = 127;
  } else if ((status.st_mode & S_IXUSR) == 0) {
    outcome->output = "sh: " + path + ": Permission denied\r\n";
    outcome->status = 126;
  } else if (unit_.restartOnInstall) {
    outcome->action = ShellOutcome::kRestart;
  } else {
    // The script is not run: the unit's install step is simulated, and its
    // result is what the exit knob says.
    outcome->action = ShellOutcome::kRanScript;
    const int run = scriptRuns_.fetch_add(1);
    outcome->status = unit_.exitRuns > 0 && run >= unit_.exitRuns ? 0 : unit_.exitStatus;
  }
}

}  // namespace unitsim
