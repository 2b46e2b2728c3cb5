// One connection to a unit's file service: put requests, file data and
// trailers, each checked against its check value, the file stored under the
// unit's folder with its mode and time, and a reply to every put request and
// every trailer — spoilt, delayed or withheld as the unit's knobs say.
#pragma once

#include <cstdint>
#include <string>

#include "EventLog.h"
#include "FileMessages.h"
#include "SocketIo.h"
#include "UnitRuntime.h"

namespace unitsim {

class FileService {
 public:
  FileService(UnitRuntime& unit, EventLog& log, int fd);
  void Run();

 private:
  enum class Next { kGoOn, kClose };

  bool ReadMessage(std::string* message);
  Next HandleMessage(const std::string& message);
  Next HandlePut(const PutRequest& put);
  bool Reply(std::uint8_t type, std::uint8_t errorFlag, std::uint32_t status, bool spoil);
  // Receives the file's data into `temp`; kClose when the connection ended.
  Next ReceiveData(const PutRequest& put, const std::string& temp, std::uint32_t* crc,
                   long long* received);
  Next FinishPut(const PutRequest& put, int putNumber, const std::string& local,
                 const std::string& temp, std::uint32_t crc);
  void Silent();

  UnitRuntime& unit_;
  EventLog& log_;
  int fd_;
  ReadPacer pacer_;
  long long dataBytes_ = 0;
  bool faultThisPut_ = false;
};

}  // namespace unitsim
