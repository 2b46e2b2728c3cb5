// Fuzz target for the reader of an earlier run's report (--retry), on the
// file's bytes. Checked on every input: a report that was read has its
// run's time in the report's one form and no more units to retry than it
// lists; a refused one leaves nothing behind and says on which line; and
// whatever the report reader accepted is valid JSON to the plain reader.
// A disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/JsonReader.h"
#include "shell/RetryReport.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsValidJson(std::string_view text) {
  JsonReader reader(text);
  return reader.SkipValue() && reader.ExpectEnd();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RetryUnits units;
  std::string error;
  if (ReadRetryReport(text, &units, &error)) {
    Check(units.runOf.size() == 20 && units.runOf.back() == 'Z');
    Check(units.addresses.size() <= units.listed);
    Check(units.addresses.count(0) == 0);
    Check(IsValidJson(text));
  } else {
    Check(error.rfind("line ", 0) == 0);
    Check(units.addresses.empty() && units.runOf.empty() && units.listed == 0);
  }
  return 0;
}
