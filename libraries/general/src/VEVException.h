// The exception the library throws: a message text that handlers read
// directly from the public field.
#pragma once

#include <string>

class VEVException {
 public:
  VEVException() = default;
  explicit VEVException(const char* text) : message(text != nullptr ? text : "") {}
  VEVException(const VEVException& other) = default;
  virtual ~VEVException() = default;
  virtual VEVException& operator=(const VEVException& other) {
    message = other.message;
    return *this;
  }

  std::string message;
};
