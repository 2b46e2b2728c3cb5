// "pathkeeper.log" in the current directory, which both programs append to:
// the installer when it cannot serve or start the route helper, the helper
// when a route fails. Each line is appended with the file opened and closed
// again, so the two processes never hold it open at once.
#pragma once

// Appends the text as it is (the caller ends it with a newline).
void AppendPathkeeperLog(const char* text);
