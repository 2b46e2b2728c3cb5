// Linux: xdg-open picks the desktop's viewer for the file. It is started as a
// child that is not waited for (it hands the file to the viewer and ends);
// the program opens one document per run, so its one finished child is
// left for the system to collect when the program ends.
#include "platform/OpenDocument.h"

#include "platform/Process.h"

namespace platform {

bool OpenDocument(const char* path) {
  ProcessHandle* viewer = StartProcess("xdg-open", {path}, nullptr);
  if (viewer == nullptr) return false;
  CloseProcess(viewer);
  return true;
}

}  // namespace platform
