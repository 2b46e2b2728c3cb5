// A folder of its own for a test that runs the real route helper: it holds a
// copy of pathkeeper and becomes the current directory, as the installer's
// folder is, so that the channel finds the helper there and both programs
// write their "pathkeeper.log" into it. Tests run in parallel never share a
// log.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "platform/HelperLauncher.h"
#include "platform/Threads.h"

class HelperFolder {
 public:
  HelperFolder() {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    folder_ = testsupport::ScratchDirectory("pathkeeper-" + name + "-" +
                                            std::to_string(platform::CurrentProcessId()));
    // (The Windows runtime's copy does not overwrite, whatever it is told.)
    const std::filesystem::path helper =
        std::filesystem::path(folder_) / platform::kHelperProgramName;
    std::filesystem::remove(helper);
    std::filesystem::copy_file(ZEQ_PATHKEEPER, helper);
    std::filesystem::remove(std::filesystem::path(folder_) / "pathkeeper.log");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
  }
  ~HelperFolder() { std::filesystem::current_path(previous_); }
  HelperFolder(const HelperFolder&) = delete;
  HelperFolder& operator=(const HelperFolder&) = delete;

  std::string Log() const {
    std::ifstream file(std::filesystem::path(folder_) / "pathkeeper.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  std::string folder_;
  std::filesystem::path previous_;
};
