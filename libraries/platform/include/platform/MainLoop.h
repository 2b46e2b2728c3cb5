// The main loop of a program with a user interface: it waits for sockets to
// become readable, for periodic timers and for calls posted from other
// threads, and runs each callback on the thread that calls Run, one at a
// time, until Quit.
//
// Windows: a hidden message-only window receives WSAAsyncSelect
// notifications (message 10000) and SetTimer ticks, and Run is the thread's
// message loop, which offers each message to IsDialogMessage for the dialog
// set with SetDialog first. Linux: poll over a wake-up pipe, the watched
// sockets and any descriptor a front end adds (standard input for the text
// UI), with the timers kept in a list.
//
// Everything but Post and Quit belongs to the thread that made the loop.
// A readable-socket callback should read what is waiting: on Windows the
// next notification comes only after a read, and on Linux a socket left
// readable is reported again at once. Watching a socket makes it
// non-blocking on Windows (WSAAsyncSelect does so), so callers make it
// non-blocking on both.
#pragma once

#include <functional>
#include <memory>

#include "platform/Sockets.h"

namespace platform {

class MainLoop {
 public:
  using Callback = std::function<void()>;
  // The window message that carries socket notifications on Windows.
  static constexpr unsigned kSocketMessage = 10000;

  MainLoop();
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // False when the loop could not be set up (no window, no pipe); every call
  // then fails and Run returns -1 at once.
  bool IsValid() const;

  // Calls onReadable whenever the socket has data (or a pending error) until
  // UnwatchSocket; watching it again replaces the callback. 0, or -1 with
  // LastSocketError().
  int WatchSocketReadable(SocketHandle socket, Callback onReadable);
  void UnwatchSocket(SocketHandle socket);

  // Calls onTick every periodMs milliseconds (at least 1) until KillTimer.
  // Returns the timer's id, never 0; 0 on failure.
  int AddTimer(unsigned periodMs, Callback onTick);
  void KillTimer(int id);

  // Runs the call on the loop's thread soon after; any thread may post, and
  // calls from one thread run in the order posted. The loop must outlive
  // the threads that post to it. False when the loop was never set up.
  bool Post(Callback call);

  // Runs callbacks until Quit; returns Quit's code.
  int Run();
  // Ends Run with the code soon after (callbacks already due may still run
  // first); any thread. A Quit before Run ends the next Run at once.
  void Quit(int code);

#ifdef _WIN32
  // The dialog (its HWND) whose keyboard navigation the loop serves through
  // IsDialogMessage; null for none.
  void SetDialog(void* dialog);
#else
  // Calls onReadable whenever the descriptor is readable, until
  // UnwatchDescriptor: how the text UI hears standard input.
  int WatchDescriptor(int descriptor, Callback onReadable);
  void UnwatchDescriptor(int descriptor);
#endif

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
