// The packet buffer's heap block: realloc, so that growing it keeps what the
// caller has written.
#include "UDPPacketBuffer.h"

#include <cstdlib>

namespace ZEQ {

UDPPacketBuffer::UDPPacketBuffer() : rawBuffer_(nullptr), rawCapacity_(0), size_(0) {}

UDPPacketBuffer::UDPPacketBuffer(int capacity) : rawBuffer_(nullptr), rawCapacity_(0), size_(0) {
  alloc(capacity);
}

UDPPacketBuffer::~UDPPacketBuffer() { std::free(rawBuffer_); }

void UDPPacketBuffer::alloc(int capacity) {
  const int rawCapacity = capacity + kPrefixLength;
  if (capacity < 0) return;
  void* block = std::realloc(rawBuffer_, static_cast<std::size_t>(rawCapacity));
  if (block == nullptr) return;
  rawBuffer_ = static_cast<char*>(block);
  rawCapacity_ = rawCapacity;
}

}  // namespace ZEQ
