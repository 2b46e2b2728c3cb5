// The program's own version string, as the window title shows it, and the
// existence test that decides whether the release notes are opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/ProgramVersion.h"

namespace {

TEST(ProgramVersionTest, ProductVersionIsTheProjectVersion) {
  const std::optional<std::string> version = platform::ProgramVersionString("ProductVersion");
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(*version, ZEQ_EXPECTED_PRODUCT_VERSION);
  EXPECT_FALSE(platform::ProgramVersionString("NoSuchString").has_value());
}

TEST(FileExistsTest, FilesAndFoldersExistMissingNamesDoNot) {
  const std::string folder = testsupport::ScratchDirectory("file-exists");
  std::filesystem::create_directories(folder);
  const std::string file = folder + "/whats_new.html";
  std::ofstream(file) << "<html></html>";
  EXPECT_TRUE(platform::FileExists(file.c_str()));
  EXPECT_TRUE(platform::FileExists(folder.c_str()));
  std::filesystem::remove(file);
  EXPECT_FALSE(platform::FileExists(file.c_str()));
}

}  // namespace
