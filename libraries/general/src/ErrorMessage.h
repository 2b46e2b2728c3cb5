// The library's error report: one comma-separated, time-stamped line per
// error ("level,code,date time,line,file," then the message) written to one
// process-wide stream. Until a stream is chosen the lines go to standard
// error, so a program that never chooses one still shows its failures.
#pragma once

#include <cstdio>

namespace ZEQ {

void ErrorMessage(int level, const char* file, int line, int code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;
void ErrorMessage(int level, const char* file, int line, int code);
void SetMessageOutputStream(FILE* stream);

}  // namespace ZEQ
