// Records that the control library's stage and image-move operations take
// by address. Packed, host byte order, exactly as the library lays them out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk {

inline constexpr int kStageAxes = 5;
inline constexpr int kStageValues = 10;

#pragma pack(push, 1)

// sem_SetStagePosAbs / sem_SetStagePosRel: five axis words, then five
// values (positions or distances), the floats unaligned.
struct StagePositionRecord {
  std::uint16_t axisWord[kStageAxes];
  float value[kStageAxes];
};

// sem_GetStageInfo: axis status words (bit 8 is the axis flag), ten stage
// values in the library's order, then the five axis positions.
struct StageInfoRecord {
  std::uint16_t axisStatus[kStageAxes];
  float stageValue[kStageValues];
  float position[kStageAxes];
};

#pragma pack(pop)

// sem_MoveImage: a point in a frame of the given size, in pixels.
struct ImageMoveRecord {
  std::int32_t frameWidth;
  std::int32_t frameHeight;
  std::int32_t x;
  std::int32_t y;
};

static_assert(sizeof(StagePositionRecord) == 30);
static_assert(offsetof(StagePositionRecord, value) == 10);
static_assert(sizeof(StageInfoRecord) == 70);
static_assert(offsetof(StageInfoRecord, stageValue) == 10);
static_assert(offsetof(StageInfoRecord, position) == 50);
static_assert(sizeof(ImageMoveRecord) == 16);

inline constexpr std::uint16_t kAxisFlagMask = 0x0100;

}  // namespace vesk
