// The program's own version string, as the window title shows it, the
// existence test that decides whether the release notes are opened, and
// the guarded open of the files a root installer writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

std::string TextOf(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool Write(const std::filesystem::path& path, const char* mode, const char* text) {
  std::FILE* file = platform::OpenForWriting(path, mode);
  if (file == nullptr) return false;
  std::fputs(text, file);
  return std::fclose(file) == 0;
}

// Appending keeps what is there, "w" empties the file only once it is
// open, and a folder in the file's place is refused. (Links are refused
// too; the route helper's system tests show that on Linux.)
TEST(OpenForWritingTest, AppendsEmptiesAndRefusesAFolder) {
  const std::filesystem::path folder = testsupport::ScratchDirectory("open-for-writing");
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "report.csv";
  std::filesystem::remove(file);
  ASSERT_TRUE(Write(file, "ab", "one\n"));
  ASSERT_TRUE(Write(file, "ab", "two\n"));
  EXPECT_EQ(TextOf(file), "one\ntwo\n");
  ASSERT_TRUE(Write(file, "wb", "three\n"));
  EXPECT_EQ(TextOf(file), "three\n");
  std::filesystem::create_directories(folder / "transcripts");
  EXPECT_EQ(platform::OpenForWriting(folder / "transcripts", "wb"), nullptr);
  EXPECT_EQ(platform::OpenForWriting(folder / "no-such-folder" / "x", "ab"), nullptr);
}

}  // namespace
