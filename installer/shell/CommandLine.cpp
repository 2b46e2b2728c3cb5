// Parsing of fieldloader's command line and the texts it prints about
// itself. Nothing here touches the system, so both entry points share it and
// the tests run it on both platforms.
#include "shell/CommandLine.h"

#include <cstring>
#include <optional>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number within [0, max]; no sign, no spaces.
std::optional<int> ParseCount(const std::string& text, int max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// The parser's walk over the arguments: each option takes its value from
// "--name=value" or, failing that, from the next argument.
class Parser {
 public:
  explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  CommandLine Run() {
    bool headlessOnly = false;
    std::string headlessOption;
    for (index_ = 0; index_ < arguments_.size() && result_.mode != CommandLine::Mode::Error;
         ++index_) {
      const std::string& argument = arguments_[index_];
      const std::size_t equals = argument.find('=');
      name_ = argument.substr(0, argument.rfind("--", 0) == 0 ? equals : std::string::npos);
      inlineValue_ = equals != std::string::npos && name_.size() == equals
                         ? std::optional<std::string>(argument.substr(equals + 1))
                         : std::nullopt;
      if (option(&headlessOnly) && headlessOnly && headlessOption.empty()) headlessOption = name_;
    }
    if (result_.mode == CommandLine::Mode::Error) return result_;
    if (informational_ != CommandLine::Mode::Dialog) {
      result_.mode = informational_;
    } else if (!stray_.empty() && result_.mode == CommandLine::Mode::Headless) {
      fail("unexpected argument \"" + stray_ + "\"");
    } else if (!headlessOption.empty() && result_.mode != CommandLine::Mode::Headless) {
      fail(headlessOption + " is only for a headless run (--headless)");
    } else if (result_.verify.expectedVersion && result_.verify.seconds == 0) {
      fail("--expect-version is only for a verified run (--verify)");
    } else if (result_.check && result_.verify.seconds > 0) {
      // A check installs nothing, so no unit could come back with a release.
      fail("--verify is not for a check (--check), which installs nothing");
    }
    return result_;
  }

 private:
  // One argument; sets *headlessOnly for the options only a headless run
  // takes. False when the argument was refused.
  bool option(bool* headlessOnly) {
    *headlessOnly = false;
    if (name_ == "--help" || name_ == "-h") return flag(CommandLine::Mode::Help);
    if (name_ == "--version") return flag(CommandLine::Mode::Version);
    if (name_ == "--headless") {
      if (!no_value()) return false;
      result_.mode = CommandLine::Mode::Headless;
      return true;
    }
    if (name_ == "--report") return folder(&result_.reportFolder);
    if (name_ == "--release") return folder(&result_.releaseFolder);
    if (name_ == "--unit-timeout") return timeout(&result_.unitTimeoutSeconds);
    if (name_ == "--max-parallel") return unit_count(&result_.limits.maxParallel);
    if (name_ == "--stop-after-failures") return unit_count(&result_.limits.stopAfterFailures);
    if (name_ == "--canary") return unit_count(&result_.limits.canary);
    if (name_ == "--events") return events(headlessOnly);
    if (name_ == "--verify") return timeout(&result_.verify.seconds);
    if (name_ == "--expect-version") return expected_version();
    if (name_ == "--retry") return report_file();
    *headlessOnly = true;
    if (name_ == "--discover-seconds") return discover_seconds();
    if (name_ == "--run-timeout") return timeout(&result_.runTimeoutSeconds);
    if (name_ == "--add") return add_address();
    if (name_ == "--check") return check();
    *headlessOnly = false;
    if (name_.rfind("-", 0) == 0 && name_.size() > 1) return fail("unknown option " + name_);
    // The dialog ignores what is not an option (a file dropped on the
    // program, a shortcut's argument); a headless run refuses it.
    if (stray_.empty()) stray_ = arguments_[index_];
    return true;
  }

  // --help and --version win over everything else on the line, as users
  // expect ("fieldloader --headless --help" prints the help).
  bool flag(CommandLine::Mode mode) {
    if (!no_value()) return false;
    if (informational_ == CommandLine::Mode::Dialog) informational_ = mode;
    return true;
  }

  bool no_value() {
    if (!inlineValue_) return true;
    return fail(name_ + " takes no value");
  }

  std::optional<std::string> value() {
    if (inlineValue_) return inlineValue_;
    if (index_ + 1 >= arguments_.size()) {
      fail(name_ + " needs a value");
      return std::nullopt;
    }
    return arguments_[++index_];
  }

  bool discover_seconds() {
    const std::optional<std::string> text = value();
    if (!text) return false;
    const std::optional<int> seconds = ParseCount(*text, CommandLine::kMaxDiscoverSeconds);
    if (!seconds) {
      return fail("--discover-seconds needs a whole number of seconds from 0 to " +
                  std::to_string(CommandLine::kMaxDiscoverSeconds) + ", not \"" + *text + "\"");
    }
    result_.discoverSeconds = *seconds;
    return true;
  }

  // "-" is the standard output, which only a headless run leaves free.
  bool events(bool* headlessOnly) {
    const std::optional<std::string> text = value();
    if (!text) return false;
    if (text->empty()) return fail("--events needs a file, or - for the standard output");
    result_.eventsPath = *text;
    *headlessOnly = *text == "-";
    return true;
  }

  // Any bytes: a unit's version is whatever text it reports.
  bool expected_version() {
    const std::optional<std::string> text = value();
    if (!text) return false;
    if (text->empty()) return fail("--expect-version needs the version text");
    result_.verify.expectedVersion = *text;
    return true;
  }

  bool timeout(int* into) { return positive(into, CommandLine::kMaxTimeoutSeconds, " of seconds"); }

  bool unit_count(int* into) { return positive(into, CommandLine::kMaxUnitCount, ""); }

  // A whole number from 1 to max; what names the unit of the number.
  bool positive(int* into, int max, const char* what) {
    const std::optional<std::string> text = value();
    if (!text) return false;
    const std::optional<int> number = ParseCount(*text, max);
    if (!number || *number == 0) {
      return fail(name_ + " needs a whole number" + what + " from 1 to " + std::to_string(max) +
                  ", not \"" + *text + "\"");
    }
    *into = *number;
    return true;
  }

  bool add_address() {
    const std::optional<std::string> text = value();
    if (!text) return false;
    std::uint32_t address = 0;
    if (!ParseUnitAddress(*text, &address)) {
      return fail("--add needs an IPv4 address such as 192.168.1.20, not \"" + *text + "\"");
    }
    if (!CanBeUnitAddress(address)) {
      return fail("--add " + *text + " is not a unit's address");
    }
    result_.addresses.push_back(address);
    return true;
  }

  bool check() {
    if (!no_value()) return false;
    result_.check = true;
    return true;
  }

  bool report_file() {
    const std::optional<std::string> text = value();
    if (!text) return false;
    if (text->empty()) return fail("--retry needs the report of an earlier run");
    result_.retryReport = *text;
    return true;
  }

  bool folder(std::string* into) {
    const std::optional<std::string> text = value();
    if (!text) return false;
    if (text->empty()) return fail(name_ + " needs a folder");
    *into = *text;
    return true;
  }

  bool fail(const std::string& reason) {
    result_.mode = CommandLine::Mode::Error;
    result_.error = reason;
    return false;
  }

  const std::vector<std::string>& arguments_;
  std::size_t index_ = 0;
  std::string name_;
  std::optional<std::string> inlineValue_;
  std::string stray_;
  CommandLine::Mode informational_ = CommandLine::Mode::Dialog;
  CommandLine result_;
};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  return Parser(arguments).Run();
}

bool ParseUnitAddress(const std::string& text, std::uint32_t* address) {
  unsigned char octets[4] = {};
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at]) && at - start < 4) ++at;
    const std::optional<int> octet = ParseCount(text.substr(start, at - start), 255);
    // A leading zero ("010") reads as octal to some tools: refused, so the
    // address is never taken for another than the one meant.
    if (!octet || at - start > 3 || (at - start > 1 && text[start] == '0')) return false;
    octets[part] = static_cast<unsigned char>(*octet);
  }
  if (at != text.size()) return false;
  // Network byte order: the first octet in the lowest-addressed byte.
  std::memcpy(address, octets, sizeof octets);
  return true;
}

std::string UsageText() {
  return "Usage: fieldloader [--release DIR] [--report PATH] [--unit-timeout S]\n"
         "                   [--max-parallel N] [--stop-after-failures K] [--canary N]\n"
         "                   [--events FILE] [--verify S [--expect-version TEXT]]\n"
         "                   [--retry REPORT]\n"
         "       fieldloader --headless [--discover-seconds N] [--add ADDRESS]... "
         "[--release DIR] [--report PATH] [--unit-timeout S] [--run-timeout S]\n"
         "                   [--max-parallel N] [--stop-after-failures K] [--canary N]\n"
         "                   [--events FILE|-] [--verify S [--expect-version TEXT]]\n"
         "                   [--retry REPORT] [--check]\n"
         "       fieldloader --help | --version\n"
         "\n"
         "Loads a release (\"ftpdwnld.txt\" and the files it names) onto Tarvo units:\n"
         "the one in --release DIR, else the one in the program's own folder, or,\n"
         "for a program installed under /usr, the one in the current folder\n"
         "(cd /path/to/release && fieldloader). Without --headless the dialog\n"
         "opens.\n"
         "\n"
         "  --headless            run without a screen: discover units, install the\n"
         "                        release on every unit found and on each --add\n"
         "                        address, print one line per status change, then a\n"
         "                        summary\n"
         "  --discover-seconds N  how long to wait for units to answer before the\n"
         "                        install starts (default 3, at most 3600)\n"
         "  --add ADDRESS         also install on the unit at this IPv4 address\n"
         "                        (repeatable)\n"
         "  --release DIR         the release folder, where the program also writes\n"
         "                        its logs and the report\n"
         "  --report PATH         the folder for fieldloader-report.json,\n"
         "                        fieldloader-report.csv and transcripts/ (default:\n"
         "                        the release folder); made and tried before\n"
         "                        anything starts\n"
         "  --unit-timeout S      cancel a unit's job that has not ended after S\n"
         "                        seconds; its report row says \"timeout\" (default:\n"
         "                        no limit; headless and the text dialog)\n"
         "  --run-timeout S       end a headless install after S seconds: cancel\n"
         "                        every unit still waiting or running, write the\n"
         "                        report and exit 1 (default: no limit)\n"
         "  --max-parallel N      run at most N jobs at once; the others wait as\n"
         "                        \"Pending\" and start in the list's order as jobs\n"
         "                        end (default: no limit)\n"
         "  --stop-after-failures K\n"
         "                        once K units have failed, start no more: the\n"
         "                        units still waiting end \"Cancelled\" with failure\n"
         "                        class \"stopped\"; running jobs finish (default:\n"
         "                        never)\n"
         "  --canary N            install N units first and the rest only when all\n"
         "                        of them finished; else the rest are stopped\n"
         "                        (default: all at once)\n"
         "  --events FILE         write one JSON object a line to FILE for every\n"
         "                        status change, percentage (at most once a\n"
         "                        second per unit), wave start and wave end; \"-\"\n"
         "                        is the standard output of a headless run, whose\n"
         "                        own lines then go to standard error (default:\n"
         "                        none)\n"
         "  --verify S            after the run, ask the units again for up to S\n"
         "                        seconds until every finished unit reports the\n"
         "                        new version (one other than before the run);\n"
         "                        the report says \"yes\" or \"no\" in \"verified\",\n"
         "                        and a unit not verified makes the exit status 1\n"
         "                        (default: not asked; headless and the text\n"
         "                        dialog)\n"
         "  --expect-version TEXT with --verify: the version every finished unit\n"
         "                        must report\n"
         "  --retry REPORT        install only on the units whose latest outcome in\n"
         "                        REPORT (the fieldloader-report.json of an earlier\n"
         "                        run) was a failure or a cancel, adding those\n"
         "                        discovery does not find by their address; with\n"
         "                        --add, those units too; a report without such a\n"
         "                        unit ends a headless run with 0 at once; the\n"
         "                        text dialog marks them, and its \"f\" marks them\n"
         "                        too (default: none)\n"
         "  --check               a dry run: read and check the release, discover,\n"
         "                        then per unit ping, ask for a route when needed,\n"
         "                        log in and open the file channel, copying\n"
         "                        nothing and running nothing; each unit ends\n"
         "                        \"Ready\" or with the failure of the step that\n"
         "                        would fail; exit 0 when every unit is ready\n"
         "                        (headless only)\n"
         "  --help, -h            print this text\n"
         "  --version             print the program's version\n"
         "\n"
         "Exit status: 0 when every unit ended finished, 1 when some unit failed, was\n"
         "cancelled or was not verified (the text dialog: 1 for a broken package), 2\n"
         "when nothing could start (a broken package, no unit found, a report folder\n"
         "that cannot be written, a terminal the text dialog cannot use) or the\n"
         "command line was wrong, 3 when the run report could not be written.\n";
}

std::string VersionText(const std::string& version) { return "fieldloader " + version + "\n"; }

std::string UsageErrorText(const std::string& reason) {
  return "fieldloader: " + reason + "\nTry 'fieldloader --help' for more information.\n";
}
