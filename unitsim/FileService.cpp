// The file service of a unit (see FileService.h).
#include "FileService.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "Crc32.h"
#include "UnitFiles.h"

namespace unitsim {

namespace {

// Longer than any remote name the installer sends; a longer length field
// means the stream is out of step and cannot be resynchronised.
constexpr std::size_t kLongestMessage = 38 + 4096;

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written <= 0) return false;
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool Stores(ReplyFault fault) {
  return fault != ReplyFault::kErrorFlag && fault != ReplyFault::kStatus;
}

}  // namespace

FileService::FileService(UnitRuntime& unit, EventLog& log, int fd)
    : unit_(unit), log_(log), fd_(fd), pacer_(unit.config.rateLimit) {}

void FileService::Run() {
  if (unit_.config.fileSilent) return Silent();
  std::string message;
  while (ReadMessage(&message)) {
    if (HandleMessage(message) == Next::kClose) break;
  }
}

bool FileService::ReadMessage(std::string* message) {
  std::uint8_t head[6];
  if (!RecvExact(fd_, head, sizeof head, &pacer_)) return false;
  const std::uint16_t length = Le16(head + 4);
  if (length < 12 || length > kLongestMessage) {
    log_.Event("fs_protocol_error", unit_.name)
        .Str("problem", "message length out of range")
        .Int("length", length);
    Reply(kReplyToPut, 1, kStatusMalformed, false);
    return false;
  }
  message->assign(reinterpret_cast<const char*>(head), sizeof head);
  message->resize(length);
  return RecvExact(fd_, &(*message)[6], length - 6, &pacer_);
}

FileService::Next FileService::HandleMessage(const std::string& message) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
  const bool checkOk = CheckValueMatches(bytes, message.size());
  if (bytes[6] == kTypeErrorNotice && message.size() == 12) {
    // The installer could not read a local file; it waits for no reply.
    log_.Event("fs_error_notice", unit_.name)
        .Int("error", Le32(bytes + 8))
        .Bool("check_ok", checkOk);
    return Next::kGoOn;
  }
  if (!checkOk) {
    log_.Event("fs_protocol_error", unit_.name)
        .Str("problem", "bad check value")
        .Int("type", bytes[6])
        .Int("length", static_cast<long long>(message.size()));
    return Reply(kReplyToPut, 1, kStatusBadCheckValue, false) ? Next::kGoOn : Next::kClose;
  }
  PutRequest put;
  const std::string problem = ParsePutRequest(bytes, message.size(), &put);
  if (!problem.empty()) {
    log_.Event("fs_protocol_error", unit_.name).Str("problem", problem).Int("type", bytes[6]);
    return Reply(kReplyToPut, 1, kStatusMalformed, false) ? Next::kGoOn : Next::kClose;
  }
  return HandlePut(put);
}

bool FileService::Reply(std::uint8_t type, std::uint8_t errorFlag, std::uint32_t status,
                        bool spoil) {
  const UnitConfig& config = unit_.config;
  const ReplyFault fault = spoil ? config.replyFault : ReplyFault::kNone;
  return SendText(fd_, BuildReply(type, errorFlag, status, fault, config.faultStatus));
}

FileService::Next FileService::HandlePut(const PutRequest& put) {
  const UnitConfig& config = unit_.config;
  const int putNumber = ++unit_.puts;
  faultThisPut_ = config.replyFault != ReplyFault::kNone &&
                  (config.faultOnPut == 0 || config.faultOnPut == putNumber);
  const std::string local = ResolveUnitPath(unit_.folder, put.name);
  log_.Event("put", unit_.name)
      .Int("put", putNumber)
      .Str("name", put.name)
      .Int("size", put.fileSize)
      .Int("mode", put.mode)
      .Int("modified", put.modified)
      .Int("options", put.options)
      .Bool("reserved_zero", put.reservedZero)
      .Bool("spoilt_reply", faultThisPut_ && !config.faultAtTrailer);
  if (local.empty() || !MakeParentFolders(local)) {
    log_.Event("fs_protocol_error", unit_.name).Str("problem", "cannot store at that path");
    return Reply(kReplyToPut, 0, kStatusCannotStore, false) ? Next::kGoOn : Next::kClose;
  }
  const bool spoilRequest = faultThisPut_ && !config.faultAtTrailer;
  if (!Reply(kReplyToPut, 0, 0, spoilRequest)) return Next::kClose;
  // A refusal (error flag or status) means no data follows.
  if (spoilRequest && !Stores(config.replyFault)) return Next::kGoOn;
  const std::string temp = local + ".unitsim-part";
  std::uint32_t crc = kCrcStart;
  long long received = 0;
  if (ReceiveData(put, temp, &crc, &received) == Next::kClose) {
    unlink(temp.c_str());
    log_.Event("file", unit_.name)
        .Str("name", put.name)
        .Int("size", put.fileSize)
        .Int("received", received)
        .Str("crc", "incomplete")
        .Bool("stored", false);
    return Next::kClose;
  }
  return FinishPut(put, putNumber, local, temp, crc);
}

FileService::Next FileService::ReceiveData(const PutRequest& put, const std::string& temp,
                                           std::uint32_t* crc, long long* received) {
  const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<char> buffer(65536);
  long long remaining = put.fileSize;
  const long long limit = unit_.config.closeAfterBytes;
  bool ok = out >= 0;
  while (ok && remaining > 0) {
    if (limit >= 0 && dataBytes_ >= limit) {
      log_.Event("close_mid_file", unit_.name).Str("name", put.name).Int("received", *received);
      shutdown(fd_, SHUT_RDWR);
      ok = false;
      break;
    }
    long long want = std::min<long long>(remaining, static_cast<long long>(buffer.size()));
    if (limit >= 0) want = std::min(want, limit - dataBytes_);
    want = static_cast<long long>(pacer_.Chunk(static_cast<std::size_t>(want)));
    const ssize_t got = recv(fd_, buffer.data(), static_cast<std::size_t>(want), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) ok = false;
    if (!ok) break;
    pacer_.Account(static_cast<std::size_t>(got));
    *crc = UpdateCrc(*crc, buffer.data(), static_cast<std::size_t>(got));
    ok = WriteAll(out, buffer.data(), static_cast<std::size_t>(got));
    remaining -= got;
    *received += got;
    dataBytes_ += got;
  }
  if (out >= 0) close(out);
  return ok ? Next::kGoOn : Next::kClose;
}

FileService::Next FileService::FinishPut(const PutRequest& put, int putNumber,
                                         const std::string& local, const std::string& temp,
                                         std::uint32_t crc) {
  std::uint8_t trailer[5];
  if (!RecvExact(fd_, trailer, sizeof trailer, &pacer_)) {
    unlink(temp.c_str());
    log_.Event("file", unit_.name)
        .Str("name", put.name)
        .Str("crc", "no trailer")
        .Bool("stored", false);
    return Next::kClose;
  }
  const std::uint32_t sent = Le32(trailer + 1);
  const bool crcOk = trailer[0] == 0 && sent == crc;
  const bool spoil = faultThisPut_ && unit_.config.faultAtTrailer;
  bool stored = crcOk && !(spoil && !Stores(unit_.config.replyFault));
  if (stored) {
    stored = rename(temp.c_str(), local.c_str()) == 0;
    chmod(local.c_str(), put.mode & 07777);
    const timespec times[2] = {{put.modified, 0}, {put.modified, 0}};
    utimensat(AT_FDCWD, local.c_str(), times, 0);
  } else {
    unlink(temp.c_str());
  }
  char checks[40];
  std::snprintf(checks, sizeof checks, "%08x/%08x", sent, crc);
  log_.Event("file", unit_.name)
      .Int("put", putNumber)
      .Str("name", put.name)
      .Int("size", put.fileSize)
      .Str("crc", crcOk ? "ok" : "bad")
      .Str("trailer_vs_data", checks)
      .Bool("trailer_zero_byte", trailer[0] == 0)
      .Bool("stored", stored)
      .Str("path", stored ? local : std::string())
      .Bool("spoilt_reply", spoil);
  std::uint32_t status = 0;
  if (!crcOk)
    status = kStatusBadFileCheck;
  else if (!stored && !spoil)
    status = kStatusCannotStore;
  return Reply(kReplyToTrailer, 0, status, spoil) ? Next::kGoOn : Next::kClose;
}

void FileService::Silent() {
  log_.Event("fs_silent", unit_.name);
  char buffer[4096];
  long long total = 0;
  for (;;) {
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += got;
  }
  log_.Event("fs_silent_end", unit_.name).Int("received", total);
}

}  // namespace unitsim
