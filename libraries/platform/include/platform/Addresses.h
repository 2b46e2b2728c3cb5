// IPv4 addresses as text: the dotted quad of an address in network byte
// order (first octet in the lowest-addressed byte) and back. Pure text work,
// the same on both platforms, so it is written once on the seam's portable
// side (portable/Addresses.cpp) rather than in each backend.
#pragma once

#include <cstdint>

namespace platform {

// Dotted-quad text of an address ("192.168.1.10"); an empty text when it
// does not fit in size bytes.
void FormatAddress(std::uint32_t address, char* text, int size);
// Parses a dotted quad: four decimal numbers up to 255, no leading zeros,
// nothing else; false when the text is not one.
bool ParseAddress(const char* text, std::uint32_t* address);

}  // namespace platform
