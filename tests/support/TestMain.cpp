// The main function of every test executable: starts the socket layer once
// for the whole run, as the programs do at start-up.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/Sockets.h"

namespace testsupport {

std::string ScratchDirectory(const std::string& name) {
  const std::string path = std::string(ZEQ_BINARY_DIR) + "/test-scratch/" + name;
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
