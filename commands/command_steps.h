// A step that several command handlers share: setting a centred X/Y pair.
#pragma once

#include <cstdint>

#include "commands/readings.h"
#include "commands/reply.h"
#include "scope/sem.h"

namespace vesk {

// A setter of one raw axis value, e.g. sem_SetStigXAbs.
using AxisSetter = std::int32_t(SEM_CALL*)(std::int16_t raw);

// Both wire values are checked before anything is set; Y is set only after
// X was accepted, so a refused X leaves both axes as they were.
inline bool SetCentredPair(std::int16_t x, std::int16_t y, CentredScale scale, AxisSetter setX,
                           AxisSetter setY) {
  if (!WithinScale(x, scale) || !WithinScale(y, scale)) return false;
  if (setX(RawValue(x, scale)) != 1) return false;
  return setY(RawValue(y, scale)) == 1;
}

}  // namespace vesk
