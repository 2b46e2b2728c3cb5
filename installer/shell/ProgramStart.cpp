// The entry points' shared start (see ProgramStart.h).
#include "shell/ProgramStart.h"

#include <cstdio>
#include <filesystem>

#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/ProgramVersion.h"
#include "shell/HeadlessRunner.h"
#include "shell/RunReport.h"

namespace {

// Prints a text for the user on the stream, or, where the program has
// nowhere to print (a Windows program started without a console), shows it
// in a message box.
void Tell(std::FILE* stream, const std::string& text, const char* caption) {
  if (platform::AttachParentConsole()) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
  } else {
    platform::ShowMessageBox(caption, text.c_str());
  }
}

std::string AbsoluteFolder(const std::string& folder) {
  if (folder.empty()) return folder;
  std::error_code error;
  const std::filesystem::path given(std::u8string(folder.begin(), folder.end()));
  const std::filesystem::path absolute = std::filesystem::absolute(given, error);
  const std::u8string text = (error ? given : absolute).u8string();
  return std::string(text.begin(), text.end());
}

// Why a folder cannot be entered, in the system's words where it has them.
std::string FolderProblem(const std::string& folder) {
  std::error_code error;
  const bool isFolder = std::filesystem::is_directory(
      std::filesystem::path(std::u8string(folder.begin(), folder.end())), error);
  if (error) return error.message();
  return isFolder ? "it cannot be entered" : "it is not a folder";
}

// The folder the release is read from and the program writes into: the
// one --release names, else the program's own. A program installed under
// /usr (the Linux package) is shared by every release, and its folder is
// no place to write: it works on the current folder instead. "" keeps the
// current folder.
std::string ReleaseFolder(const CommandLine& options) {
  if (!options.releaseFolder.empty()) return AbsoluteFolder(options.releaseFolder);
  const std::string own = platform::ProgramDirectory();
  if (own == "/usr" || own.rfind("/usr/", 0) == 0) return std::string();
  return own;
}

int RunHeadlessHere(const ProgramStart& start) {
  platform::AttachParentConsole();
  std::FILE* out = platform::SplitStandardOutput(kOutputLogName);
  const int code = RunHeadless(start.options, start.reportFolder, out ? out : stdout, stderr);
  if (out != nullptr) std::fclose(out);
  return code;
}

}  // namespace

ProgramStart StartProgram(const std::vector<std::string>& arguments) {
  ProgramStart start;
  start.options = ParseCommandLine(arguments);
  start.done = true;
  switch (start.options.mode) {
    case CommandLine::Mode::Help: Tell(stdout, UsageText(), "fieldloader"); return start;
    case CommandLine::Mode::Version:
      Tell(stdout,
           VersionText(platform::ProgramVersionString("ProductVersion").value_or("Unknown")),
           "fieldloader");
      return start;
    case CommandLine::Mode::Error:
      Tell(stderr, UsageErrorText(start.options.error), "fieldloader");
      start.exitCode = CommandLine::kUsageExitCode;
      return start;
    case CommandLine::Mode::Dialog:
    case CommandLine::Mode::Headless: break;
  }
  // The report of --retry is read whole before anything starts: a report
  // that cannot be used would otherwise retry the wrong units.
  std::string unusable;
  if (!start.options.retryReport.empty() &&
      !LoadRetryReport(start.options.retryReport, &start.options.retry, &unusable)) {
    Tell(stderr, UnusableRetryReportText(start.options.retryReport, unusable), "fieldloader");
    start.exitCode = CommandLine::kUsageExitCode;
    return start;
  }
  // The report and release folders are named from where the user stands;
  // everything else from the release folder.
  start.reportFolder = AbsoluteFolder(start.options.reportFolder);
  if (start.options.eventsPath != "-") {
    start.options.eventsPath = AbsoluteFolder(start.options.eventsPath);
  }
  std::string unwritable;
  if (!start.options.reportFolder.empty() && !CheckReportFolder(start.reportFolder, &unwritable)) {
    Tell(stderr, "fieldloader: " + unwritable + "\n", "fieldloader");
    start.exitCode = CommandLine::kUsageExitCode;
    return start;
  }
  const std::string release = ReleaseFolder(start.options);
  if (!release.empty() && !platform::SetCurrentDirectoryTo(release.c_str())) {
    Tell(stderr,
         "fieldloader: cannot open the release folder " + release + ": " + FolderProblem(release) +
             "\n",
         "fieldloader");
    start.exitCode = CommandLine::kUsageExitCode;
    return start;
  }
  if (start.options.mode == CommandLine::Mode::Dialog) {
    start.done = false;
    return start;
  }
  start.exitCode = RunHeadlessHere(start);
  return start;
}
