// The manifest reader: commands, remote path building, comments, white
// space, CR-LF, the stop at a missing file, UTF-8 names, and the real file
// read from the current folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "TestSupport.h"
#include "transfer/PackageManifest.h"

namespace {

// Local files that "exist" for the text reader, with their sizes.
struct FakeFiles {
  std::map<std::u16string, std::uint32_t> sizes;
  std::vector<std::u16string> asked;

  LocalFileProbe probe() {
    return [this](const std::u16string& name, std::uint32_t* size) {
      asked.push_back(name);
      const auto found = sizes.find(name);
      if (found == sizes.end()) return false;
      *size = found->second;
      return true;
    };
  }
};

class ManifestTextTest : public testing::Test {
 protected:
  std::uint32_t Read(std::string_view text) {
    return ReadPackageManifestText(text, files_.probe(), manifest_);
  }
  std::vector<std::string> RemotePaths() const {
    std::vector<std::string> paths;
    for (const ManifestEntry& entry : manifest_.entries) paths.push_back(entry.remotePath);
    return paths;
  }

  FakeFiles files_{{{u"a", 10}, {u"b", 20}, {u"app.bin", 7}, {u"empty", 0}}, {}};
  PackageManifest manifest_;
};

TEST_F(ManifestTextTest, CdThenSend) {
  EXPECT_EQ(Read("cd /opt/x\nsend app.bin app.bin\n"), 7u);
  ASSERT_EQ(manifest_.entries.size(), 1u);
  EXPECT_EQ(manifest_.entries[0].localPath, u"app.bin");
  EXPECT_EQ(manifest_.entries[0].remotePath, "/opt/x/app.bin");
  EXPECT_EQ(manifest_.entries[0].size, 7u);
  EXPECT_EQ(manifest_.totalSize, 7u);
  EXPECT_EQ(manifest_.autoInstall, 0u);
  EXPECT_EQ(manifest_.installScript, "");
}

TEST_F(ManifestTextTest, RemotePathsArePlainConcatenation) {
  EXPECT_EQ(Read("send a b\n"
                 "cd usr/app\nsend a b\n"
                 "cd /usr/app/\nsend a b\n"
                 "cd\nsend a b\n"
                 "cd /d\nsend a\n"),
            50u);
  EXPECT_EQ(RemotePaths(),
            (std::vector<std::string>{"/b", "/usr/app/b", "/usr/app//b", "//b", "/d/"}));
}

TEST_F(ManifestTextTest, LaterCdReplacesEarlierAndBlankLinesChangeNothing) {
  EXPECT_EQ(Read("cd /one\ncd /two\n\n   \t \nsend a x\ncd three\n \nsend b y\n"), 30u);
  EXPECT_EQ(RemotePaths(), (std::vector<std::string>{"/two/x", "/three/y"}));
}

TEST_F(ManifestTextTest, CommentsUnknownCommandsAndExtraWordsAreSkipped) {
  EXPECT_EQ(Read("# send missing.bin x\n"
                 "Send missing.bin x\nCD /nowhere\nput a b\n"
                 "send\ta\t x extra words\n"),
            10u);
  EXPECT_EQ(RemotePaths(), (std::vector<std::string>{"/x"}));
  EXPECT_EQ(files_.asked, (std::vector<std::u16string>{u"a"}))
      << "only the send line looked for a file";
}

TEST_F(ManifestTextTest, AutoInstall) {
  EXPECT_EQ(Read("send a a\nauto_install\n"), 10u);
  EXPECT_EQ(manifest_.autoInstall, 1u);
  EXPECT_EQ(manifest_.installScript, "$rsa/install.script");

  PackageManifest withScript;
  ReadPackageManifestText("send a a\nauto_install /tmp/go.sh\nauto_install\n", files_.probe(),
                          withScript);
  EXPECT_EQ(withScript.autoInstall, 1u);
  EXPECT_EQ(withScript.installScript, "/tmp/go.sh") << "a bare line keeps a script already set";
}

TEST_F(ManifestTextTest, CrLfReadsLikeLf) {
  const char* lf = "# release\ncd /opt/x\n\nsend a a1\nsend b b1\nauto_install /s.sh\n";
  const char* crlf =
      "# release\r\ncd /opt/x\r\n\r\nsend a a1\r\nsend b b1\r\nauto_install /s.sh\r\n";
  PackageManifest fromCrLf;
  EXPECT_EQ(Read(lf), 30u);
  EXPECT_EQ(ReadPackageManifestText(crlf, files_.probe(), fromCrLf), 30u);
  ASSERT_EQ(fromCrLf.entries.size(), 2u);
  EXPECT_EQ(fromCrLf.entries[0].remotePath, manifest_.entries[0].remotePath);
  EXPECT_EQ(fromCrLf.entries[1].remotePath, manifest_.entries[1].remotePath);
  EXPECT_EQ(fromCrLf.entries[1].localPath, u"b");
  EXPECT_EQ(fromCrLf.installScript, "/s.sh");
}

TEST_F(ManifestTextTest, LastLineWithoutLineFeedIsRead) {
  EXPECT_EQ(Read("cd /z\nsend a a"), 10u);
  EXPECT_EQ(RemotePaths(), (std::vector<std::string>{"/z/a"}));
}

TEST_F(ManifestTextTest, MissingFileStopsTheReadAndKeepsEarlierEntries) {
  EXPECT_EQ(Read("send a a\nsend missing m\nsend b b\nauto_install\n"), 0u);
  EXPECT_EQ(RemotePaths(), (std::vector<std::string>{"/a"}));
  EXPECT_EQ(manifest_.autoInstall, 0u) << "nothing after the missing file is read";
  EXPECT_EQ(Read("send\n"), 0u) << "a send without a local name names no file";
}

TEST_F(ManifestTextTest, TotalsZeroAndWrapping) {
  EXPECT_EQ(Read(""), 0u);
  EXPECT_EQ(Read("cd /x\nauto_install\n"), 0u);
  EXPECT_EQ(Read("send empty e\n"), 0u);
  files_.sizes[u"huge"] = 0xFFFFFFFFu;
  PackageManifest wrapped;
  EXPECT_EQ(ReadPackageManifestText("send huge h\nsend b b\n", files_.probe(), wrapped), 19u);
}

TEST_F(ManifestTextTest, ReadingAgainResetsFlagAndTotalButKeepsEntries) {
  EXPECT_EQ(Read("send a a\nauto_install\n"), 10u);
  EXPECT_EQ(Read("send b b\n"), 20u);
  EXPECT_EQ(manifest_.autoInstall, 0u);
  EXPECT_EQ(manifest_.entries.size(), 2u);
}

TEST_F(ManifestTextTest, NamesAreDecodedFromUtf8) {
  files_.sizes[u"\u00e9t\u00e9.bin"] = 1;
  files_.sizes[u"\U0001F600"] = 2;
  EXPECT_EQ(Read("send \xc3\xa9t\xc3\xa9.bin \xc3\xa9\nsend \xf0\x9f\x98\x80 s\n"), 3u);
  ASSERT_EQ(manifest_.entries.size(), 2u);
  EXPECT_EQ(manifest_.entries[0].remotePath, "/\xc3\xa9") << "remote names stay 8-bit";
  EXPECT_EQ(manifest_.entries[1].localPath, u"\U0001F600");
  for (const char* bad : {"send \xc3 x\n", "send \xc0\xaf x\n", "send \xed\xa0\x80 x\n",
                          "send \xf4\x90\x80\x80 x\n"}) {
    PackageManifest other;
    EXPECT_EQ(ReadPackageManifestText(bad, files_.probe(), other), 0u) << bad;
  }
}

// The longest name a system opens is 32,767 UTF-16 units, at most three
// bytes of UTF-8 each; a longer one is taken for a missing file without a
// look for it.
TEST_F(ManifestTextTest, NameLongerThanAnyPathIsMissingWithoutALook) {
  const std::string longest(32767 * 3, 'a');
  files_.sizes[std::u16string(longest.size(), u'a')] = 5;
  EXPECT_EQ(Read("send " + longest + " x\n"), 5u);
  EXPECT_EQ(files_.asked.size(), 1u);
  PackageManifest other;
  EXPECT_EQ(ReadPackageManifestText("send a a\nsend " + longest + "a x\nsend b b\n", files_.probe(),
                                    other),
            0u);
  EXPECT_EQ(files_.asked.size(), 2u) << "only \"a\" was looked for";
  EXPECT_EQ(other.entries.size(), 1u);
}

TEST_F(ManifestTextTest, NulEndsTheLine) {
  EXPECT_EQ(Read(std::string_view("send a x\0 junk\nsend b\0\n", 23)), 30u);
  EXPECT_EQ(RemotePaths(), (std::vector<std::string>{"/x", "/"}));
}

// ReadPackageManifest on a real folder, made the current one for the test.
class ManifestFileTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    const std::filesystem::path folder = testsupport::ScratchDirectory("manifest");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "sub");
    std::filesystem::current_path(folder);
  }
  void TearDown() override { std::filesystem::current_path(saved_); }
  static void Write(const char* name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  std::filesystem::path saved_;
};

TEST_F(ManifestFileTest, ReadsTheManifestBesideTheProgram) {
  Write("app.bin", std::string(1234, 'x'));
  Write("sub/lib.so", std::string(66, 'y'));
  Write("ftpdwnld.txt",
        "cd /opt/x\r\nsend app.bin app.bin\r\nsend sub/lib.so lib.so\r\nauto_install\r\n");
  PackageManifest manifest;
  EXPECT_EQ(ReadPackageManifest(manifest), 1300u);
  ASSERT_EQ(manifest.entries.size(), 2u);
  EXPECT_EQ(manifest.entries[1].localPath, u"sub/lib.so");
  EXPECT_EQ(manifest.entries[1].size, 66u);
  EXPECT_EQ(manifest.installScript, "$rsa/install.script");
}

TEST_F(ManifestFileTest, MissingManifestMissingFileAndFolderFailWithTheirReason) {
  PackageManifest manifest;
  std::string reason;
  EXPECT_EQ(ReadPackageManifest(manifest, &reason), 0u);
  EXPECT_EQ(reason.rfind("ftpdwnld.txt cannot be read: ", 0), 0u) << reason;
  Write("ftpdwnld.txt", "# two lines\nsend gone.bin x\n");
  EXPECT_EQ(ReadPackageManifest(manifest, &reason), 0u);
  EXPECT_EQ(reason, "ftpdwnld.txt line 2: \"gone.bin\" is missing");
  Write("ftpdwnld.txt", "send sub x\n");
  EXPECT_EQ(ReadPackageManifest(manifest, &reason), 0u) << "a folder is not a file to send";
  EXPECT_EQ(reason, "ftpdwnld.txt line 1: \"sub\" is a folder, not a file");
  EXPECT_TRUE(manifest.entries.empty());
}

// Every way the text can be broken says which line and what is wrong; a
// manifest that reads through and still sends nothing says that.
TEST_F(ManifestTextTest, BrokenManifestSaysWhy) {
  const std::string longName(32767 * 3 + 1, 'n');
  const std::pair<std::string, std::string> cases[] = {
      {"", "ftpdwnld.txt: no \"send\" line names a file to install"},
      {"# only\ncd /x\n", "ftpdwnld.txt: no \"send\" line names a file to install"},
      {"send empty e\n", "ftpdwnld.txt: the files it sends hold no bytes"},
      {"send a a\nsend\n", "ftpdwnld.txt line 2: \"send\" names no file"},
      {"cd /\r\nsend a a\r\nsend \xe9t\xe9 x\r\n",
       "ftpdwnld.txt line 3: the file name is not UTF-8 text"},
      {"send " + longName + " x\n",
       "ftpdwnld.txt line 1: the file name is 98302 bytes long, longer than any path"},
  };
  for (const auto& [text, why] : cases) {
    PackageManifest manifest;
    std::string reason;
    EXPECT_EQ(ReadPackageManifestText(text, files_.probe(), manifest, &reason), 0u) << text;
    EXPECT_EQ(reason, why) << text.substr(0, 40);
  }
}

}  // namespace
