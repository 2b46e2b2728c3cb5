// The store of probe answers (see ResponseList.h).
#include "ResponseList.h"

#include <cstring>
#include <iterator>
#include <utility>

namespace discovery {

int ResponseList::Add(Response response) {
  for (auto stored = responses_.begin(); stored != responses_.end(); ++stored) {
    if (stored->key == response.key) {
      *stored = std::move(response);
      return 0;
    }
  }
  responses_.push_back(std::move(response));
  return count();
}

const Response* ResponseList::At(int position) const {
  if (position < 0 || position >= count()) return nullptr;
  // The walk starts from the tail unless the position lies in the first
  // quarter of the list.
  if (position < count() / 4) return &*std::next(responses_.begin(), position);
  return &*std::prev(responses_.end(), count() - position);
}

int ResponseList::Dispatch(std::uint8_t* buffer, int length) {
  if (length < 2 || buffer[0] != 0x02 || buffer[1] != 0x01) return 0;
  if (length < kResponseMinimum) return 0;
  std::memset(buffer + length, 0, kResponseSpareBytes);
  return Add(BuildResponse(buffer, length));
}

}  // namespace discovery
