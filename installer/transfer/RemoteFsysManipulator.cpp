// The file service's exchanges over one TCP connection. The steps follow the
// order of a put: open and examine the local file, request, reply, data,
// trailer, final reply.
#include "transfer/RemoteFsysManipulator.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/LocalFile.h"
#include "transfer/Crc32.h"
#include "transfer/FileProtocol.h"

namespace {

// The longest single wait on the socket; see wait_for.
constexpr int kWaitSliceMs = 100;

int SocketErrorOrMinusOne() {
  const int error = platform::LastSocketError();
  return error != 0 ? error : -1;
}

int ErrnoOrMinusOne() {
  const int error = platform::CurrentErrno();
  return error != 0 ? error : -1;
}

// Keeps a block's byte count within an int, as reads and sends take it.
constexpr std::size_t kMaxBlockPieces = 1 << 16;

// The largest whole number of pieces that fits the caller's buffer.
int BlockSize(std::size_t bufferSize) {
  const std::size_t pieces = bufferSize / RemoteFsysManipulator::kPieceSize;
  return static_cast<int>(std::min(pieces, kMaxBlockPieces) * RemoteFsysManipulator::kPieceSize);
}

}  // namespace

void RemoteFsysManipulator::SetProgressInterface(RemoteFsysManipulatorProgressInterface* progress) {
  progress_ = progress;
}

int RemoteFsysManipulator::Connect(std::uint32_t address) {
  Close();
  const platform::SocketHandle socket = platform::OpenTcpSocket();
  if (socket == platform::kInvalidSocket) return SocketErrorOrMinusOne();
  // Without it the trailer and small requests wait for acknowledgements.
  platform::SetNoDelay(socket, true);
  if (!connection_.Adopt(socket)) {
    platform::CloseSocket(socket);
    return platform::kErrorShutdown;
  }
  int result;
  {
    const ZEQ::CancellableSocket::Use use(connection_);
    if (!use) return platform::kErrorShutdown;
    result = platform::Connect(socket, address, port_) == 0 ? 0 : SocketErrorOrMinusOne();
    // A Close from another thread during the connect wins over its success.
    if (result == 0 && !connection_.IsOpen()) result = platform::kErrorShutdown;
    // From here on no socket call blocks: sends and receives wait in slices
    // (see wait_for), which a Close from another thread cuts short.
    if (result == 0) platform::SetNonBlocking(socket, true);
  }
  if (result != 0) Close();
  return result;
}

// Closing is cleanup: the connection keeps the error number that a failed
// receive reports.
void RemoteFsysManipulator::Close() { connection_.Cancel(); }

int RemoteFsysManipulator::PutFile(const std::u16string& localPath, const std::string& remoteName,
                                   std::uint32_t options, std::uint8_t* buffer,
                                   std::size_t bufferSize) {
  if (bufferSize < kMinBufferSize) return -1;
  const std::size_t requestSize = PutRequestSize(remoteName.size());
  if (requestSize == 0) return kFileNameTooLong;
  const ZEQ::CancellableSocket::Use use(connection_);
  const platform::SocketHandle socket = use.socket();

  platform::LocalFile file;
  std::uint64_t size64 = 0;
  std::int64_t modified = 0;
  int fileError = file.Open(localPath);
  if (fileError == 0) fileError = file.Examine(&size64, &modified);
  if (fileError != 0) return send_error_notice(socket, fileError);

  const auto size = static_cast<std::uint32_t>(size64);
  std::vector<std::uint8_t> request(requestSize);
  BuildPutRequest({size, static_cast<std::uint32_t>(modified), static_cast<std::uint8_t>(options)},
                  remoteName, request.data());
  int result = send_message(socket, request.data(), static_cast<int>(request.size()));
  std::uint32_t status = 0;
  if (result == 0) result = receive_reply(socket, &status);
  if (result != 0) return result;
  if (status != 0) return static_cast<int>(status);

  if (progress_ != nullptr) progress_->ReportProgress(0, size, 0);
  std::uint32_t check = kCrc32Start;
  FileProgress progress{size, size, 0, false};
  result = send_file_data(socket, file, progress, buffer, BlockSize(bufferSize), &check);
  file.Close();
  if (result != 0) return result;

  BuildTrailer(check, buffer);
  result = send_message(socket, buffer, static_cast<int>(kTrailerSize));
  if (result == 0) await_taken(socket, progress);
  if (result == 0) result = receive_reply(socket, &status);
  // A reply comes only once the unit has every byte.
  if (result == 0) report_pieces(progress, size);
  return result != 0 ? result : static_cast<int>(status);
}

// Tells the unit that the file could not be read and fails the put with the
// system's error code: reporting the file as stored would let a unit end up
// with an incomplete release that the installer shows as a success.
int RemoteFsysManipulator::send_error_notice(platform::SocketHandle socket, int fileError) {
  std::uint8_t notice[kErrorNoticeSize];
  BuildErrorNotice(static_cast<std::uint32_t>(fileError), notice);
  const int result = send_message(socket, notice, static_cast<int>(kErrorNoticeSize));
  return result != 0 ? result : fileError;
}

// Sends the whole message in one send when the socket can take it; only when
// the unit's window is full does the rest follow once it drains. 0, or the
// socket layer's error code; accepted, when given, receives the bytes the
// socket took, also when sending failed part way. A unit that takes no byte
// for as long as a reply may take is given up like a silent one: otherwise a
// cable pulled in the middle of a large file would hold the job until the
// system's own retransmissions give up, many minutes later. The connection is
// closed then, as the message on it is cut short.
int RemoteFsysManipulator::send_message(platform::SocketHandle socket, const std::uint8_t* message,
                                        int length, int* accepted) {
  int sent = 0;
  int result = 0;
  do {
    const int count = platform::Send(socket, message + sent, length - sent);
    if (count >= 0) {
      sent += count;
    } else if (platform::LastSocketError() != platform::kErrorWouldBlock) {
      result = SocketErrorOrMinusOne();
    } else {
      const int ready = wait_for(socket, kWritable, receiveWaitMs_);
      if (ready < 0) result = platform::kErrorShutdown;
      if (ready == 0) {
        Close();
        result = platform::kErrorTimedOut;
      }
    }
  } while (result == 0 && sent < length);
  if (accepted != nullptr) *accepted = sent;
  return result;
}

// Sends the file's bytes in blocks through the caller's buffer and builds the
// file's check value on the way. The loop runs at least once, so an empty
// file sends one empty block and reports (0, 0, 0). A read that comes back
// short (the file shrank, or failed) still sends the whole pieces it read,
// as piece-by-piece reading would have, before the put fails.
int RemoteFsysManipulator::send_file_data(platform::SocketHandle socket, platform::LocalFile& file,
                                          FileProgress& progress, std::uint8_t* buffer,
                                          int blockSize, std::uint32_t* check) {
  do {
    platform::FollowIdealSendBacklog(socket);
    const std::uint32_t unsent = progress.size - progress.handed;
    const auto block = static_cast<int>(std::min<std::uint32_t>(unsent, blockSize));
    const int got = file.Read(buffer, block);
    int readError = 0;
    int usable = block;
    if (got != block) {
      readError = got < 0 ? platform::LastSystemError() : 0;
      if (readError == 0) readError = -1;
      usable = got > 0 ? got - got % static_cast<int>(kPieceSize) : 0;
      if (usable == 0) return readError;
    }
    int accepted = 0;
    const int sent = send_message(socket, buffer, usable, &accepted);
    progress.handed += static_cast<std::uint32_t>(accepted);
    report_taken(socket, progress, 0);
    // A put that fails here still counts what went out, as it always has.
    if (sent != 0 || readError != 0) report_pieces(progress, progress.handed);
    if (sent != 0) return sent;
    if (readError != 0) return readError;
    *check = Crc32Update(*check, buffer, static_cast<std::size_t>(block));
  } while (progress.handed != progress.size);
  return 0;
}

// Reports the pieces whose bytes the unit has acknowledged: those handed to
// the socket less the ones still queued in it, behind which `trailing`
// bytes of a later message may wait. A unit that reads slowly leaves
// megabytes in the socket's buffers; counting what the socket took would
// show 100 % long before the unit has the file.
void RemoteFsysManipulator::report_taken(platform::SocketHandle socket, FileProgress& progress,
                                         int trailing) {
  const int queued = std::max(0, platform::UnacknowledgedBytes(socket) - trailing);
  const auto unacknowledged = std::min(progress.handed, static_cast<std::uint32_t>(queued));
  report_pieces(progress, progress.handed - unacknowledged);
}

// After the trailer the last pieces are reported as the unit takes them,
// until the reply is there to be read or the reply's wait has run out.
void RemoteFsysManipulator::await_taken(platform::SocketHandle socket, FileProgress& progress) {
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::milliseconds(receiveWaitMs_);
  for (;;) {
    report_taken(socket, progress, static_cast<int>(kTrailerSize));
    if (progress.remaining == 0 || std::chrono::steady_clock::now() - start >= limit) return;
    if (platform::WaitReadable(socket, kWaitSliceMs) != 0 || !connection_.IsOpen()) return;
  }
}

// Reports the 1500-byte pieces that lie whole within the file's first
// `taken` bytes and have not been reported yet. The pieces start at the
// file's start: every block but the file's last is a whole number of them.
void RemoteFsysManipulator::report_pieces(FileProgress& progress, std::uint32_t taken) {
  while (!progress.complete) {
    const std::uint32_t piece = std::min<std::uint32_t>(progress.remaining, kPieceSize);
    const std::uint32_t reported = progress.size - progress.remaining;
    if (reported + piece > taken) return;
    progress.remaining -= piece;
    if (progress_ != nullptr) progress_->ReportProgress(reported + piece, progress.size, piece);
    progress.complete = progress.remaining == 0;
  }
}

// Receives one 12-byte reply. A receive that fails, times out or meets a
// closed connection is reported with the C library's error number, or -1;
// starting it at 0 keeps an earlier, unrelated error out of the result.
int RemoteFsysManipulator::receive_reply(platform::SocketHandle socket, std::uint32_t* status) {
  platform::SetErrno(0);
  constexpr int kHead = static_cast<int>(kReplyHeaderSize);
  constexpr int kRest = static_cast<int>(kReplySize - kReplyHeaderSize);
  std::uint8_t reply[kReplySize];
  if (receive_exactly(socket, reply, kHead) != kHead) return ErrnoOrMinusOne();
  const int header = CheckReplyHeader(reply);
  if (header != 0) return header;
  if (receive_exactly(socket, reply + kHead, kRest) != kRest) return ErrnoOrMinusOne();
  return CheckReply(reply, status);
}

// Receives exactly count bytes with a fresh wait before each receive. Any
// failure closes the connection; the result is then the failure's code, 0
// when the unit closed the connection, or -1 for a failed receive.
int RemoteFsysManipulator::receive_exactly(platform::SocketHandle socket, std::uint8_t* data,
                                           int count) {
  int received = 0;
  while (received < count) {
    const int ready = wait_for(socket, kReadable, receiveWaitMs_);
    if (ready <= 0) {
      const int error = ready == 0 ? platform::kErrorTimedOut : SocketErrorOrMinusOne();
      Close();
      return error;
    }
    const int got = platform::Recv(socket, data + received, count - received);
    if (got < 0 && platform::LastSocketError() == platform::kErrorWouldBlock) continue;
    if (got <= 0) {
      Close();
      return got;
    }
    received += got;
  }
  return count;
}

// Waits until the socket is readable or writable: 1 when it is, 0 when
// timeoutMs ran out (never with -1), -1 when the wait failed or the
// connection was closed meanwhile. The wait is cut into slices so that a
// Close from another thread is noticed on every platform, also where shutting
// a socket down does not wake a wait on it.
int RemoteFsysManipulator::wait_for(platform::SocketHandle socket, Direction direction,
                                    int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    int slice = kWaitSliceMs;
    if (timeoutMs >= 0) {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      if (waited.count() >= timeoutMs) return 0;
      slice = static_cast<int>(std::min<long long>(timeoutMs - waited.count(), kWaitSliceMs));
    }
    const int ready = direction == kReadable ? platform::WaitReadable(socket, slice)
                                             : platform::WaitWritable(socket, slice);
    if (ready != 0) return ready;
    if (!connection_.IsOpen()) return -1;
  }
}
