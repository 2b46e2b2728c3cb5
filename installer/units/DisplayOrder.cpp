// The display comparison. Addresses are kept in network byte order, so they
// are turned into host order (first octet most significant) before they are
// compared: 10.0.0.9 then sorts before 10.0.0.10. Texts compare without
// regard to ASCII case; a missing text sorts as an empty one.
#include "units/DisplayOrder.h"

#include <cstdint>
#include <cstring>

#include "units/tarvo_object.h"

std::uint32_t HostOrder(std::uint32_t networkOrder) {
  unsigned char octets[4];
  std::memcpy(octets, &networkOrder, sizeof octets);
  return (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
         (std::uint32_t{octets[2]} << 8) | std::uint32_t{octets[3]};
}

namespace {

int AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

int CompareWithoutCase(const char* left, const char* right) {
  for (;; ++left, ++right) {
    const int difference = AsciiLower(static_cast<unsigned char>(*left)) -
                           AsciiLower(static_cast<unsigned char>(*right));
    if (difference != 0 || *left == '\0') return difference;
  }
}

int CompareWithoutCase(const NullableText& a, const NullableText& b) {
  return CompareWithoutCase(a ? a->c_str() : "", b ? b->c_str() : "");
}

int CompareAddresses(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t left = HostOrder(a);
  const std::uint32_t right = HostOrder(b);
  return left < right ? -1 : (left > right ? 1 : 0);
}

int CompareStates(const tarvo_object* a, const tarvo_object* b) {
  return static_cast<int>(b->state) - static_cast<int>(a->state);
}

int CompareStatusTexts(const tarvo_object* a, const tarvo_object* b) {
  if (a->statusText.empty() != b->statusText.empty()) return a->statusText.empty() ? 1 : -1;
  const int text = CompareWithoutCase(a->statusText.c_str(), b->statusText.c_str());
  return text != 0 ? text : CompareStates(a, b);
}

int CompareByKey(const DisplaySort& sort, const tarvo_object* a, const tarvo_object* b) {
  switch (sort.key) {
    case kSortByNode: return a->node - b->node;
    case kSortByState: return sort.statusByText ? CompareStatusTexts(a, b) : CompareStates(a, b);
    case kSortByGroup: return CompareWithoutCase(a->group, b->group);
    case kSortByVersion: return CompareWithoutCase(a->version, b->version);
    default: return CompareAddresses(a->address, b->address);
  }
}

}  // namespace

DisplaySort& CurrentDisplaySort() {
  static DisplaySort sort;
  return sort;
}

int SortKeyForColumn(int column) {
  static const int keys[] = {kSortByAddress, kSortByNode, kSortByGroup, kSortByVersion,
                             kSortByState};
  return column >= 0 && column < 5 ? keys[column] : 0;
}

void ApplyColumnClick(DisplaySort& sort, int column) {
  const int key = SortKeyForColumn(column);
  if (key == 0) return;
  sort.direction = key == sort.key ? -sort.direction : 1;
  sort.key = key;
}

int CompareForDisplay(const DisplaySort& sort, const tarvo_object* a, const tarvo_object* b) {
  return CompareByKey(sort, a, b) * sort.direction;
}

int CompareForDisplay(const tarvo_object* a, const tarvo_object* b) {
  return CompareForDisplay(CurrentDisplaySort(), a, b);
}
