// One connection to a unit's file service (TCP port 4877), owned by one
// install job: connect once, put the release's files one after another, and
// close. Each put is a complete exchange of put request, reply, the file's
// data in pieces of at most 1500 bytes, the data trailer and the final reply;
// the message bytes come from FileProtocol.h.
//
// The file's data is read and sent in blocks of as many whole pieces as the
// caller's work buffer holds (the install job's holds 44, a little over
// 64 KiB): one read and one send per piece would cost far more than moving
// the bytes. TCP carries a stream, so the unit receives exactly the bytes of
// 1500-byte pieces, and progress is still reported piece by piece once a
// block has gone out: what the unit and the progress interface see does not
// depend on the buffer's size.
//
// Close may be called from another thread to abort a transfer. Once
// connected the socket is non-blocking, and the job's thread waits for it in
// short slices, so it notices a Close within a slice on every platform (on
// Windows, shutting a socket down does not wake a send blocked on it). Close
// cancels the connection (CancellableSocket.h): it is shut down at once, and
// the handle is released only when the job's thread has left its socket
// call, so that thread can never reach a socket the system has meanwhile
// handed out again under the same number.
//
// Every message is sent in one send and the connection sets TCP_NODELAY: the
// 5-byte trailer sent behind the data and then waited on would otherwise sit
// in Nagle's algorithm until the unit's delayed acknowledgement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CancellableSocket.h"
#include "platform/Sockets.h"

namespace platform {
class LocalFile;
}

// Receives the progress of a put; the install job's unit object turns it into
// the percentage shown as the unit's status.
class RemoteFsysManipulatorProgressInterface {
 public:
  virtual ~RemoteFsysManipulatorProgressInterface() = default;
  // Bytes sent so far, the file's size, and the size of the piece just sent.
  virtual void ReportProgress(std::uint32_t sent, std::uint32_t size, std::uint32_t piece) = 0;
};

class RemoteFsysManipulator {
 public:
  static constexpr std::uint16_t kPort = 4877;
  // How long each wait for reply bytes lasts before the put gives up.
  static constexpr int kReceiveWaitMs = 30000;
  static constexpr std::size_t kPieceSize = 1500;
  // The least size of the caller's work buffer: a piece, or the trailer.
  static constexpr std::size_t kMinBufferSize = 1504;
  // The work buffer an install job allocates once and hands to every put:
  // 44 pieces, the first whole number of pieces of 64 KiB or more.
  static constexpr std::size_t kBufferSize = 44 * kPieceSize;

  RemoteFsysManipulator() = default;
  // Closes a connection the owner left open.
  ~RemoteFsysManipulator() = default;
  RemoteFsysManipulator(const RemoteFsysManipulator&) = delete;
  RemoteFsysManipulator& operator=(const RemoteFsysManipulator&) = delete;

  // Where progress goes; null for no reports. Not owned.
  void SetProgressInterface(RemoteFsysManipulatorProgressInterface* progress);
  // Closes any open connection, then connects to port 4877 of the address
  // (network byte order). 0, or the socket layer's error code with the
  // connection left closed.
  int Connect(std::uint32_t address);
  // Copies one local file to remoteName on the unit. buffer is the caller's
  // work area of bufferSize bytes, at least kMinBufferSize; the data goes out
  // in blocks of as many whole pieces as it holds. Returns 0 when the unit
  // stored the file, the unit's non-zero status, one of the protocol's codes
  // (FileProtocol.h), a socket or file error code, or -1 (also for a buffer
  // below kMinBufferSize, with nothing sent).
  int PutFile(const std::u16string& localPath, const std::string& remoteName, std::uint32_t options,
              std::uint8_t* buffer, std::size_t bufferSize);
  // Shuts the connection down and closes it; does nothing when closed. Safe
  // to call from any thread, also while a put is in progress.
  void Close();

  // Test seams: a shorter wait for replies, and another port than 4877.
  void setReceiveWaitForTesting(int milliseconds) { receiveWaitMs_ = milliseconds; }
  void setPortForTesting(std::uint16_t port) { port_ = port; }

 private:
  // A file's progress: its size, the bytes not yet reported, the bytes
  // handed to the socket so far, and whether the last piece was reported.
  struct FileProgress {
    std::uint32_t size;
    std::uint32_t remaining;
    std::uint32_t handed;
    bool complete;
  };
  int send_error_notice(platform::SocketHandle socket, int fileError);
  int send_message(platform::SocketHandle socket, const std::uint8_t* message, int length,
                   int* accepted = nullptr);
  int send_file_data(platform::SocketHandle socket, platform::LocalFile& file,
                     FileProgress& progress, std::uint8_t* buffer, int blockSize,
                     std::uint32_t* check);
  void report_taken(platform::SocketHandle socket, FileProgress& progress, int trailing);
  void await_taken(platform::SocketHandle socket, FileProgress& progress);
  void report_pieces(FileProgress& progress, std::uint32_t taken);
  int receive_reply(platform::SocketHandle socket, std::uint32_t* status);
  int receive_exactly(platform::SocketHandle socket, std::uint8_t* data, int count);
  enum Direction { kReadable, kWritable };
  int wait_for(platform::SocketHandle socket, Direction direction, int timeoutMs);

  ZEQ::CancellableSocket connection_;

  RemoteFsysManipulatorProgressInterface* progress_ = nullptr;
  int receiveWaitMs_ = kReceiveWaitMs;
  std::uint16_t port_ = kPort;
};
