// Threads of the platform: start, wait for one or for any of several, end the
// calling thread, and the ids of threads and processes. The pool's shutdown
// waits for "any one of the remaining workers", which std::thread cannot
// express, so the seam offers that wait on both platforms.
#pragma once

namespace platform {

struct ThreadHandle;
using ThreadProc = void* (*)(void* argument);

// Starts proc(argument) on a new thread (stackSize 0: the default). Returns
// null on failure; *threadId receives the new thread's id.
ThreadHandle* StartThread(ThreadProc proc, void* argument, unsigned stackSize,
                          unsigned long* threadId);
// Waits without time limit for the thread to end.
void WaitThread(ThreadHandle* thread);
// Waits without time limit until one of the threads has ended and returns its
// position in the array, or -1 when the wait itself failed.
int WaitAnyThread(ThreadHandle* const* threads, int count);
// Releases the handle; a thread still running goes on running.
void CloseThread(ThreadHandle* thread);
// Ends the calling thread with that exit code.
[[noreturn]] void ExitCurrentThread(unsigned code);

unsigned long CurrentThreadId();
unsigned long CurrentProcessId();
void SleepMilliseconds(unsigned milliseconds);

}  // namespace platform
