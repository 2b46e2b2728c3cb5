// The helper's strict reading of its arguments and its judgement of the
// pipe's server.
#include "HelperTrust.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kMaxKeyLength = 64;

bool ParseProcessId(const char* text, unsigned long* id) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 10) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (value == 0 || value > 0xFFFFFFFFu) return false;
  *id = static_cast<unsigned long>(value);
  return true;
}

bool ParseKey(const char* text, std::string* key) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > kMaxKeyLength) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  key->assign(text, length);
  return true;
}

}  // namespace

bool ParseHelperArguments(int count, const char* const* arguments, HelperArguments* parsed) {
  *parsed = HelperArguments{};
  if (count == 0) return true;
  if (count > 2 || !ParseProcessId(arguments[0], &parsed->installerId)) return false;
  if (count == 2 && !ParseKey(arguments[1], &parsed->pipeKey)) return false;
  parsed->hasInstaller = true;
  return true;
}

bool IsTrustedPipeServer(const platform::PipeServerFacts& server, unsigned long installerId) {
  return installerId != 0 && server.processId == installerId && server.parentId == installerId &&
         server.expectedUser && server.startedFirst;
}
