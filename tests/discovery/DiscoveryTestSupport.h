// Helpers of the discovery tests: hexadecimal views of bytes, a current
// folder of the test's own that holds an address list file, and a socket
// that plays the installer's device-link socket.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../general/udp_test_network.h"
#include "TestSupport.h"
#include "platform/Sockets.h"

namespace discoverytest {

inline std::string Hex(const void* data, std::size_t size) {
  std::string text;
  char digits[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X",
                  static_cast<const unsigned char*>(data)[i]);
    text += digits;
  }
  return text;
}

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
  return Hex(bytes.data(), bytes.size());
}

// Makes an empty scratch folder the current one for the test's lifetime:
// the probe reads its list file from the current folder.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : previous_(std::filesystem::current_path()), path_(testsupport::ScratchDirectory(name)) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchFolder() { std::filesystem::current_path(previous_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Writes a file below the folder, bytes as given (no line-end translation).
  void Write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path file = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }

 private:
  std::filesystem::path previous_;
  std::string path_;
};

// A UDP socket bound to address:port that collects the datagrams sent to it.
class BoundCapture : public udptest::Capture {
 public:
  BoundCapture(const char* address, std::uint16_t port) {
    socket_ = platform::OpenUdpSocket();
    platform::SetReuseAddress(socket_, true);
    if (platform::Bind(socket_, udptest::Address(address), port) != 0) {
      platform::CloseSocket(socket_);
      socket_ = platform::kInvalidSocket;
    }
    platform::GetLocalAddress(socket_, nullptr, &port_);
  }
  platform::SocketHandle handle() const { return socket_; }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_ = 0;
};

}  // namespace discoverytest
