// Detector family: shared with automatic contrast and brightness.
#pragma once

#include <cstddef>
#include <cstdint>

#include "commands/readings.h"
#include "protocol/message.h"
#include "scope/sem.h"

namespace vesk {

// A detector setting of the library, 0 to 14 (0 contrast, 1 brightness).
using DetectorItem = int;
inline constexpr DetectorItem kDetectorItemCount = 15;

// DetectorReadings: items 0 to 14 in order, one big-endian word each.
inline constexpr std::size_t kDetectorReadingsSize = 30;

// Reads the 15 items in ascending order into the record at Offset.
template <std::size_t Offset, std::size_t N>
void ReadDetectorItems(ReplyRecord<N>& reply) {
  static_assert(Offset + kDetectorReadingsSize <= N);
  for (DetectorItem item = 0; item < kDetectorItemCount; ++item) {
    reply.U16At(Offset + 2 * static_cast<std::size_t>(item), LowU16(sem_GetDetector(static_cast<std::int16_t>(item))));
  }
}

}  // namespace vesk
