// The last requests the simulated instrument received, in a fixed ring, so
// that keeping them allocates nothing on the library's path.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "scope/sem.h"
#include "scope/sem_records.h"
#include "sim/screen_state.h"

namespace vesk::sim {

// A call's arguments as short text: "5000", "1, 8192", "X=1.5 Z=10".
class ArgumentText {
 public:
  template <typename... Values>
  void Add(const Values&... values) {
    (Put(values), ...);
  }
  const std::array<char, 64>& text() const { return text_; }

 private:
  void Separate() {
    if (length_ > 0) Append(", ");
  }
  void Append(std::string_view piece) {
    for (char c : piece) {
      if (length_ + 1 >= text_.size()) return;
      text_[length_++] = c;
    }
  }
  template <typename Number>
  void AppendNumber(Number value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    Append(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }
  template <typename Value>
  void Put(Value value) {
    using Pointee = std::remove_cv_t<std::remove_pointer_t<Value>>;
    Separate();
    if constexpr (std::is_integral_v<Value>) {
      AppendNumber(static_cast<std::int64_t>(value));
    } else if constexpr (std::is_same_v<Value, const char*>) {
      PutName(value);
    } else if constexpr (std::is_same_v<Pointee, StagePositionRecord>) {
      PutStageMove(value);
    } else if constexpr (std::is_same_v<Pointee, ImageMoveRecord>) {
      PutImageMove(value);
    } else {
      // Records the library fills in, and windows: only their presence.
      Append(value == nullptr ? "null" : "*");
    }
  }
  void PutName(const char* name) {
    if (name == nullptr) return Append("null");
    Append("\"");
    // Bounded: the name comes from a client; control bytes become '?'.
    for (std::size_t i = 0; name[i] != '\0' && i < 24; ++i) {
      const char c = static_cast<unsigned char>(name[i]) < 0x20 ? '?' : name[i];
      Append(std::string_view(&c, 1));
    }
    Append("\"");
  }
  void PutStageMove(const StagePositionRecord* move) {
    if (move == nullptr) return Append("null");
    static constexpr std::string_view kAxes[] = {"X=", "Y=", "Z=", "T=", "R="};
    bool first = true;
    for (int axis = 0; axis < kStageAxes; ++axis) {
      if (move->axisWord[axis] == 0) continue;
      if (!first) Append(" ");
      first = false;
      Append(kAxes[axis]);
      AppendNumber(static_cast<double>(move->value[axis]));
    }
  }
  void PutImageMove(const ImageMoveRecord* move) {
    if (move == nullptr) return Append("null");
    AppendNumber(move->x);
    Append(",");
    AppendNumber(move->y);
    Append(" of ");
    AppendNumber(move->frameWidth);
    Append("x");
    AppendNumber(move->frameHeight);
  }

  std::array<char, 64> text_{};
  std::size_t length_ = 0;
};

// Two rings: every request, and the requests that are not readings, so
// that a client polling hard does not push the changes out of sight.
class RequestLog {
 public:
  bool keeping() const { return keeping_; }
  void Keep(bool on) {
    keeping_ = on;
    all_ = Ring{};
    changes_ = Ring{};
  }
  void Add(const RequestRecord& record) {
    all_.Add(record);
    if (std::string_view(SemOpName(record.op)).substr(0, 3) != "Get") changes_.Add(record);
  }
  std::uint64_t count() const { return all_.count; }
  // Oldest first, appended to the vectors (which the caller sizes
  // beforehand, so that nothing is allocated under the simulator's lock).
  void CopyRecent(std::vector<RequestRecord>& all, std::vector<RequestRecord>& changes) const {
    all_.CopyTo(all);
    changes_.CopyTo(changes);
  }

 private:
  struct Ring {
    std::uint64_t count = 0;
    std::array<RequestRecord, kKeptRequests> records{};

    static std::size_t Slot(std::uint64_t n) { return static_cast<std::size_t>(n % kKeptRequests); }
    void Add(const RequestRecord& record) { records[Slot(count++)] = record; }
    void CopyTo(std::vector<RequestRecord>& into) const {
      const std::uint64_t kept = count < kKeptRequests ? count : kKeptRequests;
      for (std::uint64_t i = count - kept; i < count; ++i) into.push_back(records[Slot(i)]);
    }
  };

  bool keeping_ = false;
  Ring all_;
  Ring changes_;
};

}  // namespace vesk::sim
