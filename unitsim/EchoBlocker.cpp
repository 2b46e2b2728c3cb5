// Echo blocking with ip rules (see EchoBlocker.h).
#include "EchoBlocker.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "EventLog.h"

extern char** environ;

namespace unitsim {

namespace {

// Runs "ip ARGS..." and returns its exit status (-1 when it could not run).
int RunIp(std::vector<std::string> args) {
  args.insert(args.begin(), "ip");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
  pid_t pid;
  const int started = posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Said(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

EchoBlocker::~EchoBlocker() { ReleaseAll(); }

std::string EchoBlocker::PrepareNamespace() {
  if (prepared_) return "";
  if (!Said("ZEQ_IN_NETNS") && !Said("UNITSIM_PRIVATE_NETNS")) {
    return "no-echo changes routing rules, so it needs a private network namespace, "
           "said by ZEQ_IN_NETNS=1 (the test launchers) or UNITSIM_PRIVATE_NETNS=1";
  }
  // Either may fail when another unitsim in this namespace already moved it.
  RunIp({"rule", "add", "pref", "100", "lookup", "local"});
  movedLocal_ = RunIp({"rule", "del", "pref", "0", "lookup", "local"}) == 0;
  prepared_ = true;
  return "";
}

std::string EchoBlocker::Block(std::uint32_t address) {
  const std::string problem = PrepareNamespace();
  if (!problem.empty()) return problem;
  const std::string text = AddressText(address);
  if (RunIp({"rule", "add", "pref", "10", "from", text, "ipproto", "icmp", "blackhole"}) != 0) {
    return "ip rule add for " + text + " failed";
  }
  blocked_.push_back(text);
  return "";
}

void EchoBlocker::ReleaseAll() {
  for (const std::string& text : blocked_) {
    RunIp({"rule", "del", "pref", "10", "from", text, "ipproto", "icmp", "blackhole"});
  }
  blocked_.clear();
  if (movedLocal_) {
    RunIp({"rule", "add", "pref", "0", "lookup", "local"});
    RunIp({"rule", "del", "pref", "100", "lookup", "local"});
    movedLocal_ = false;
  }
  prepared_ = false;
}

}  // namespace unitsim
