// Fuzz target for what the device-link interface does with the datagrams its
// socket receives: the dispatch rule, the answer taken apart, the store of one
// answer per unit address, and the unit values read from a stored answer.
// Each datagram lies in a heap buffer of exactly its length plus the 8 spare
// bytes, so the sanitizers catch any read or write beyond that room. The
// store's results are checked against a plain model of it; a disagreement
// aborts.
//
// Input layout: datagrams one after the other, each a length byte pair
// (little-endian, taken modulo 1501) and then that many bytes (fewer at the
// end of the input).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "ResponseList.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsProbeAnswer(const std::uint8_t* data, std::size_t size) {
  return size >= 26 && data[0] == 0x02 && data[1] == 0x01;
}

void CheckStored(const discovery::Response& stored, const std::uint8_t* data, std::size_t size) {
  std::uint32_t key;
  std::memcpy(&key, data + 6, 4);
  Check(stored.key == key && stored.kind == 2);
  Check(stored.node == (data[18] | data[19] << 8));
  // The four strings come from the bytes after offset 26 and hold no NUL.
  const std::size_t room = size - 26;
  for (const auto* text : {&stored.text1, &stored.text2, &stored.text3, &stored.text4}) {
    Check(text->size() <= room && text->find('\0') == std::string::npos);
  }
  Check(stored.text1.size() + stored.text2.size() + stored.text3.size() + stored.text4.size() <=
        room);
}

void CheckUnit(const discovery::Response& stored) {
  const std::optional<DiscoveredUnit> unit = discovery::UnitFromResponse(&stored);
  const int node = static_cast<std::int16_t>(stored.node);
  Check(unit.has_value() == (node >= 1));
  if (!unit) return;
  Check(unit->address == stored.key && unit->node == node);
  Check(unit->macOrNull() == nullptr && unit->gateway == 0 && unit->reachedFrom == 0);
  Check(unit->group.size() + unit->version.size() <= discovery::kGroupVersionLimit);
  Check(unit->group.find('\x1F') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  discovery::ResponseList list;
  std::vector<std::uint32_t> model;  // the keys in order of first arrival
  std::size_t at = 0;
  while (at + 2 <= size) {
    std::size_t length =
        (data[at] | data[at + 1] << 8) % (discovery::ResponseList::kReceiveSize + 1);
    at += 2;
    if (length > size - at) length = size - at;
    std::vector<std::uint8_t> buffer(length + discovery::kResponseSpareBytes, 0xEE);
    if (length > 0) std::memcpy(buffer.data(), data + at, length);
    const int value = list.Dispatch(buffer.data(), static_cast<int>(length));
    if (!IsProbeAnswer(data + at, length)) {
      Check(value == 0);
    } else {
      std::uint32_t key;
      std::memcpy(&key, data + at + 6, 4);
      int position = -1;
      for (std::size_t i = 0; i < model.size(); ++i) {
        if (model[i] == key) position = static_cast<int>(i);
      }
      if (position < 0) model.push_back(key);
      Check(value == (position < 0 ? static_cast<int>(model.size()) : 0));
      const discovery::Response* stored =
          list.At(position < 0 ? static_cast<int>(model.size()) - 1 : position);
      Check(stored != nullptr);
      CheckStored(*stored, data + at, length);
      CheckUnit(*stored);
    }
    at += length;
  }
  Check(list.count() == static_cast<int>(model.size()));
  Check(list.At(list.count()) == nullptr);
  return 0;
}
