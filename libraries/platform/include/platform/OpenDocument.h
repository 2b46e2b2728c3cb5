// Opening a document with the program the desktop associates with it: the
// shell's "open" verb on Windows, xdg-open on Linux. The caller does not wait
// for the viewer; the result only says whether it could be started.
#pragma once

namespace platform {

// True when the viewer was started for the file.
bool OpenDocument(const char* path);

}  // namespace platform
