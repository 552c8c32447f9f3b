// Which client addresses may connect: IPv4 addresses and networks given as
// "A.B.C.D" or "A.B.C.D/BITS". An empty list lets everyone in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

class AllowList {
 public:
  // Adds one entry; false (and nothing added) when it is malformed. Bits
  // below the prefix are ignored, so 10.1.2.3/16 is 10.1.0.0/16.
  bool Add(const std::string& entry);
  // Adds every entry of a list separated by spaces, commas or semicolons.
  // False at the first malformed entry, which is left in *bad; the entries
  // before it stay added.
  bool AddAll(const std::string& list, std::string* bad);
  bool Empty() const { return rules_.empty(); }
  // address in host order (127.0.0.1 is 0x7F000001).
  bool Allows(std::uint32_t address) const;

 private:
  struct Rule {
    std::uint32_t network;
    std::uint32_t mask;
  };
  std::vector<Rule> rules_;
};

// "A.B.C.D" into *address (host order); false unless exactly four decimal
// parts of 0 to 255.
bool ParseIPv4(const std::string& text, std::uint32_t* address);

}  // namespace vesk
