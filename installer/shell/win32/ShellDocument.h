// Opening a document the program ships beside itself (the release notes) in
// whatever program the user has chosen for its type.
#pragma once

// Opens the file with the shell's "open" verb if it exists (a name relative
// to the current directory). True when the file was there and the shell
// took the request; nothing is shown when it is missing.
bool OpenDocumentIfPresent(const char* fileName);
