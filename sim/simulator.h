// The simulated instrument: an implementation of the control library's 98
// sem_ operations that behaves like a scanning electron microscope with its
// manager application, for working without the real instrument.
//
// The host fills a SimulatorOptions (from its command line) and applies it
// before the command server starts. Everything the simulated instrument does
// over time (stage motions, automatic runs, vacuum changes, captures) is
// measured on a SimClock: the steady clock by default, a ManualClock in tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scope/sem.h"

namespace vesk::sim {

// Milliseconds since an arbitrary start; never decreases.
class SimClock {
 public:
  virtual ~SimClock() = default;
  virtual std::int64_t NowMs() const = 0;
};

// A clock that moves only when told to, so that tests never sleep.
class ManualClock final : public SimClock {
 public:
  std::int64_t NowMs() const override { return now_.load(); }
  void Advance(std::int64_t milliseconds) { now_.fetch_add(milliseconds); }

 private:
  std::atomic<std::int64_t> now_{0};
};

struct SimulatorOptions {
  // What sem_GetSemType reports; some ranges depend on it (README).
  std::int16_t instrumentType = 0;
  // Factor on every duration of the instrument: 0.1 runs ten times faster,
  // 0 completes everything at once (fully deterministic).
  double timeScale = 1.0;
  // Chooses the specimen, its best focus and alignment, and image noise.
  std::uint64_t seed = 1;
  // Operation names ("SetHT", or "sem_SetHT") that always refuse: result 0,
  // no effect.
  std::vector<std::string> refusedOperations;
  // "Name=value": the operation is not carried out and returns value, e.g.
  // "GetVacuumStatus=1" for a vacuum that never gets ready.
  std::vector<std::string> pinnedResults;
  // Every capture is written below this folder, wherever the client's path
  // points on the control PC.
  std::filesystem::path imageFolder = "sim-images";
  // The private-profile file whose section FENKOR holds the save settings
  // (the same file the service writes).
  std::filesystem::path settingsFile = "seminfo.ini";
  // Captures are not rendered or encoded: a few placeholder bytes are saved
  // where the image would go (fuzzing, where only the path matters).
  bool placeholderCaptures = false;
  // A scenario file (sim/README.md): faults and imperfections at times on
  // the clock, which reads 0 when the options are applied. Empty: none.
  std::filesystem::path scenarioFile;
};

// Resets the instrument to its power-on state under these options. False,
// with a reason in *error, when an option does not parse or names no
// operation; the instrument is then left as it was.
bool ApplySimulatorOptions(const SimulatorOptions& options, std::string* error = nullptr);
// The same with a clock of the caller's (tests). Durations are still
// multiplied by the time scale.
bool ApplySimulatorOptions(const SimulatorOptions& options, std::shared_ptr<const SimClock> clock,
                           std::string* error = nullptr);

// The manager application's window, as sem_GetManagerHandle returns it. Kept
// across ApplySimulatorOptions.
void SetManagerWindow(SemWindow window);

// Run-time faults, for clients that want to see the instrument misbehave.
enum class Fault {
  kHighVoltageTrip,  // the high voltage switches off
  kVacuumLoss,       // the vacuum breaks down and pumps again; HT trips
};
void InjectFault(Fault fault);

// Run-time counterparts of the two option lists; ClearOverrides drops both.
bool RefuseOperation(std::string_view name, std::string* error = nullptr);
bool PinResult(std::string_view entry, std::string* error = nullptr);
void ClearOverrides();

// The operation of a name, "SetHT" or "sem_SetHT", in any letter case.
std::optional<SemOp> SemOpFromName(std::string_view name);

enum class ImageFormat { kBmp, kTiff, kJpeg };

// What the manager application did with the last finished capture.
struct CaptureRecord {
  std::uint32_t number = 0;      // 1 for the first capture after a reset
  std::string requestedPath;     // the "Path" setting as read
  bool written = false;          // false: no file (path refused, write failed)
  std::filesystem::path file;    // where it went, inside the image folder
  ImageFormat format = ImageFormat::kBmp;
  int width = 0;
  int height = 0;
};
std::optional<CaptureRecord> LastCapture();

}  // namespace vesk::sim
