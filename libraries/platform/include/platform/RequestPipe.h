// The pipe that carries route requests from the installer to its route
// helper. The installer owns the server end, named after its process id and
// a random key; the elevated helper opens the client end and only reads.
// Because the helper takes orders from whoever serves the name, both ends
// check the other: the server creates the name only when nobody holds it and
// accepts only the helper it launched; the client tells the helper who
// serves the pipe (PipeServerFacts), and the helper obeys only its parent.
//
// Windows: the named pipe "\\.\pipe\zeq%d-KEY" (one instance, first
// instance only, remote clients rejected, access for the installer's user
// and read access for Administrators; the client opens it at identification
// level). Linux: the abstract Unix stream socket "zeq%d-KEY", with
// SO_PEERCRED for the process checks.
//
// The server is an interface so that tests of the route-request channel can
// run without a helper process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace platform {

// The pipe's name for a number and key: "\\.\pipe\zeq4120-KEY" or
// "zeq4120-KEY"; without a key "\\.\pipe\zeq4120" or "zeq4120".
std::string RequestPipeName(unsigned long number, const std::string& key = "");

// One entry of the access list the server gives its pipe: the account (a
// SID in its text form) and the access mask granted. Empty on Linux, where
// an abstract socket has no access list and the ends check each other's
// credentials instead.
struct PipeAccessEntry {
  std::string account;
  unsigned long access = 0;
  bool operator==(const PipeAccessEntry&) const = default;
};
std::vector<PipeAccessEntry> RequestPipeAccessList();

// What the helper learns about the process that serves its pipe, for the
// helper to judge.
struct PipeServerFacts {
  unsigned long processId = 0;  // 0 when the system cannot tell
  unsigned long parentId = 0;   // the helper's own parent
  bool expectedUser = false;    // runs as the user who asked for the helper
  bool startedFirst = false;    // was started before the helper
};

class RequestPipeServer {
 public:
  virtual ~RequestPipeServer() = default;
  // Creates the pipe named after `number` and `key`; 0 or the system's error
  // code. A name that exists already fails.
  virtual int Create(unsigned long number, const std::string& key) = 0;
  virtual bool IsOpen() const = 0;
  // Waits up to timeoutMs for the process clientProcessId to connect: 1 once
  // it has, 0 when it has not yet, -1 when waiting failed. Clients of other
  // processes are turned away and the wait goes on.
  virtual int WaitForClient(unsigned long clientProcessId, unsigned timeoutMs) = 0;
  // Writes the bytes in one write to the connected client: the count
  // written, 0 on failure.
  virtual int Write(const void* data, int length) = 0;
  // Returns once the client has read everything written: true then, false
  // when there is no client or it went away.
  virtual bool Flush() = 0;
  virtual void Close() = 0;
};

std::unique_ptr<RequestPipeServer> MakeRequestPipeServer();

// The helper's end: opened by name, then read until the server closes.
class RequestPipeClient {
 public:
  RequestPipeClient() = default;
  ~RequestPipeClient() { Close(); }
  RequestPipeClient(const RequestPipeClient&) = delete;
  RequestPipeClient& operator=(const RequestPipeClient&) = delete;

  // Opens the existing pipe named after `number` and `key`; 0 or the error
  // code. *server receives what the system tells about the serving process.
  int Open(unsigned long number, const std::string& key, PipeServerFacts* server);
  // Reads exactly `length` bytes; false when the pipe closed or failed first.
  bool ReadExactly(void* data, int length);
  void Close();

 private:
  static constexpr long long kNoHandle = -1;
  long long handle_ = kNoHandle;
};

}  // namespace platform
