// What the simulated instrument's screen shows: its state and the scene
// being scanned, and the last library requests it received. Read in one
// go under the simulator's lock (ReadScreen), for the live view; reading
// changes nothing in the instrument.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scope/sem.h"
#include "sim/simulator.h"
#include "sim/specimen_image.h"

namespace vesk::sim {

struct ScreenState {
  std::int64_t atMs = 0;  // the instrument's time
  std::int16_t instrumentType = 0;
  double timeScale = 1.0;
  std::uint64_t seed = 0;

  bool highVoltage = false;
  std::int32_t volts = 0;
  bool blanked = false;
  std::int32_t magnification = 0;
  std::int32_t workingDistanceTenths = 0;
  std::int32_t objectiveCoarse = 0;
  std::int32_t objectiveFine = 0;
  std::int32_t condenser = 0;
  std::array<std::int32_t, 2> stigmator{};
  std::array<std::int32_t, 4> gun{};  // shift X, shift Y, tilt X, tilt Y
  std::array<std::int32_t, 2> fineShift{};
  std::int32_t rasterRotationTenths = 0;
  std::int32_t contrast = 0;
  std::int32_t brightness = 0;
  std::int32_t pcdMode = 0;

  // X, Y, Z, tilt, rotation as reported; targets of the motions.
  std::array<double, 5> stagePosition{};
  std::array<double, 5> stageTarget{};
  bool stageMoving = false;

  std::int32_t vacuumMode = 0;
  std::int32_t vacuumStatus = 0;
  std::int32_t arrivalPressurePa = 0;

  std::int32_t autoRun = 0;  // as sem_GetAutoMode reports it
  std::int64_t autoRunLeftMs = 0;

  bool capturePending = false;
  std::int32_t captureVariant = 0;
  std::string capturePath;
  std::int64_t captureLeftMs = 0;
  std::optional<CaptureRecord> lastCapture;

  std::int32_t scanSpeed = 0;
  bool frozen = false;
  std::int64_t frameMs = 0;  // one frame at this scan speed, on the instrument's clock
  Scene scene;               // what is being scanned (or the frozen frame)
};

// One control-library call as the instrument received it.
struct RequestRecord {
  std::int64_t atMs = 0;
  SemOp op = SemOp::GetHT;
  std::array<char, 64> arguments{};  // as text, cut short if need be
  std::int64_t result = 0;
  bool forced = false;  // a pinned or refused operation: not carried out
};

// The last requests kept, of all and of those that are not readings; only
// while keeping is on.
inline constexpr std::size_t kKeptRequests = 40;

struct ScreenSnapshot {
  ScreenState state;
  std::vector<RequestRecord> requests;  // oldest first
  std::vector<RequestRecord> changes;   // the same without readings (Get...)
  std::uint64_t requestCount = 0;       // received since keeping was switched on
};

ScreenSnapshot ReadScreen();
// Requests are kept from now on (costs a few tens of nanoseconds a call).
void KeepRequests(bool on);

}  // namespace vesk::sim
