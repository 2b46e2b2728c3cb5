// The no-echo knob. The kernel answers ICMP echo for every local address, so
// a unit that must not answer a ping needs a routing rule: "from ADDRESS
// ipproto icmp blackhole" makes the echo reply unroutable, and the request
// goes unanswered, as it would for a unit on another subnet. The rule only
// works ahead of the local table, so the local table's rule is moved from
// preference 0 to 100 while any block is in place.
//
// Routing rules belong to the network namespace, so this refuses to act
// unless the environment says that the namespace is a private one:
// ZEQ_IN_NETNS=1 (set by the test launchers) or UNITSIM_PRIVATE_NETNS=1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace unitsim {

class EchoBlocker {
 public:
  ~EchoBlocker();
  // Empty when echo replies from the address are now dropped, else why not.
  std::string Block(std::uint32_t address);
  // Removes the rules and puts the local table's rule back.
  void ReleaseAll();

 private:
  std::string PrepareNamespace();

  bool prepared_ = false;
  bool movedLocal_ = false;
  std::vector<std::string> blocked_;
};

}  // namespace unitsim
