// One datagram's payload with 28 bytes of room in front of it, where the raw
// send path of UDPSender writes the IPv4 and UDP headers. The payload can so
// go out bare on an ordinary socket or, headers and payload in one block,
// on a raw one, without copying.
#pragma once

namespace ZEQ {

class UDPSender;

class UDPPacketBuffer {
 public:
  UDPPacketBuffer();
  explicit UDPPacketBuffer(int capacity);
  ~UDPPacketBuffer();
  UDPPacketBuffer(const UDPPacketBuffer&) = delete;
  UDPPacketBuffer& operator=(const UDPPacketBuffer&) = delete;

  // Makes room for `capacity` payload bytes, keeping the contents up to the
  // smaller size. On allocation failure the old block stays.
  void alloc(int capacity);
  int getSize() const { return size_; }
  // Not checked against the capacity.
  void setSize(int size) { size_ = size; }

  // The payload, right behind the prefix; null while there is no block.
  operator void*() { return payload(); }
  operator const void*() const { return payload(); }
  operator char*() { return payload(); }
  operator const char*() const { return payload(); }

 private:
  friend class UDPSender;
  static constexpr int kPrefixLength = 28;

  void* getRawBuffer() const { return rawBuffer_; }
  int getRawSize() const { return kPrefixLength + size_; }
  int getPrefixLength() const { return kPrefixLength; }
  char* payload() const { return rawBuffer_ != nullptr ? rawBuffer_ + kPrefixLength : nullptr; }

  char* rawBuffer_;
  int rawCapacity_;
  int size_;
};

}  // namespace ZEQ
