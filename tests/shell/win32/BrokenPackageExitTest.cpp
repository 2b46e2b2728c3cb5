// The Windows program itself started on a broken package, as the user
// starts it (here with a file dropped on it, an argument the dialog
// ignores): it says "Install corrupted, missing files needed for install."
// in a message box captioned "Error" before any dialog exists, and once the
// box is closed it ends with exit code 1, never having shown the main
// dialog; the output log gives the reason after the message. The program runs as a child under wine
// on the virtual display; the test finds its box among the windows of its process.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "platform/Process.h"

namespace {

// What the program's process shows: its message box, and whether a window
// of the main dialog ever appeared.
struct ProcessWindows {
  DWORD processId = 0;
  HWND box = nullptr;
  bool dialog = false;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  auto* seen = reinterpret_cast<ProcessWindows*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != seen->processId || !IsWindowVisible(window)) return TRUE;
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  const std::wstring text(title);
  if (text == L"Error") seen->box = window;
  if (text.find(L"Tarvo") != std::wstring::npos) seen->dialog = true;
  return TRUE;
}

BOOL CALLBACK CollectText(HWND child, LPARAM parameter) {
  wchar_t text[256] = {};
  GetWindowTextW(child, text, 256);
  *reinterpret_cast<std::wstring*>(parameter) += std::wstring(text) + L"\n";
  return TRUE;
}

TEST(BrokenPackageExitTest, ProgramShowsTheErrorAndExitsWithOneWithoutItsDialog) {
  const std::filesystem::path folder = testsupport::ScratchDirectory("win32-broken-package");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::filesystem::path program = folder / std::filesystem::path(ZEQ_FIELDLOADER).filename();
  std::filesystem::copy_file(ZEQ_FIELDLOADER, program);
  std::ofstream(folder / "ftpdwnld.txt", std::ios::binary)
      << "cd /opt/tarvo\nsend missing.bin missing.bin\nauto_install\n";

  platform::ProcessHandle* process =
      platform::StartProcess(program.string(), {"dropped notes.txt"}, folder.string().c_str());
  ASSERT_NE(process, nullptr) << platform::LastProcessError();
  ProcessWindows seen;
  seen.processId = static_cast<DWORD>(platform::ProcessIdOf(process));
  const DWORD start = GetTickCount();
  while (seen.box == nullptr && GetTickCount() - start < 30000) {
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&seen));
    if (seen.box == nullptr) Sleep(100);
  }
  if (seen.box == nullptr) {
    platform::TerminateChildProcess(process);
    platform::WaitProcess(process, 5000);
    platform::CloseProcess(process);
    FAIL() << "no message box from the program within 30 s";
  }
  std::wstring texts;
  EnumChildWindows(seen.box, CollectText, reinterpret_cast<LPARAM>(&texts));
  EXPECT_NE(texts.find(L"Install corrupted, missing files needed for install."), std::wstring::npos)
      << "the box says something else";
  PostMessageW(seen.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_EQ(platform::WaitProcess(process, 30000), 1) << "the program did not end after the box";
  int code = -1;
  EXPECT_TRUE(platform::ProcessExitCode(process, &code));
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(seen.dialog) << "the main dialog appeared for a broken package";
  platform::CloseProcess(process);
  std::stringstream log;
  log << std::ifstream(folder / "fieldloader-output.log").rdbuf();
  EXPECT_NE(log.str().find("Install corrupted, missing files needed for install.\n"
                           "ftpdwnld.txt line 2: \"missing.bin\" is missing\n"),
            std::string::npos)
      << log.str();
  std::filesystem::remove_all(folder);
}

}  // namespace
