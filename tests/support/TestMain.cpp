// The main function of every test executable: starts the socket layer once
// for the whole run, as the programs do at start-up.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/Sockets.h"

namespace testsupport {

// ctest runs the cases of one program side by side, so each running case
// gets a folder of its own under the name: two cases that wrote the same file
// name into one shared folder saw each other's files change under them.
std::string ScratchDirectory(const std::string& name) {
  std::string path = std::string(ZEQ_BINARY_DIR) + "/test-scratch/" + name;
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  if (test != nullptr) path += "/" + std::string(test->test_suite_name()) + "." + test->name();
  platform::MakeDirectories(path.c_str());
  return path;
}

}  // namespace testsupport

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  platform::StartSockets(2, 2);
  const int result = RUN_ALL_TESTS();
  platform::CleanupSockets();
  return result;
}
