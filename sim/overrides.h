// Results forced by the host or a test: refused operations (result 0) and
// pinned ones (result fixed). A forced operation is not carried out at all,
// so a refused setter changes nothing and a pinned getter reads its value
// whatever the instrument does.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scope/sem.h"

namespace vesk::sim {

class Overrides {
 public:
  bool Refuse(std::string_view name, std::string* error);
  // "Name=value", value a decimal (or 0x hexadecimal) 32-bit integer.
  bool Pin(std::string_view entry, std::string* error);
  void Clear() { forced_.fill(std::nullopt); }
  void Force(SemOp op, std::int32_t value) { forced_[static_cast<std::size_t>(op)] = value; }
  // The operation is carried out again.
  void Lift(SemOp op) { forced_[static_cast<std::size_t>(op)] = std::nullopt; }

  std::optional<std::int32_t> Forced(SemOp op) const { return forced_[static_cast<std::size_t>(op)]; }

 private:
  std::array<std::optional<std::int32_t>, kSemOperationCount> forced_{};
};

}  // namespace vesk::sim
