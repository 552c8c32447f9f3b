// The control library's entry points, generated from the operation list:
// each takes the simulator's one lock, brings the instrument up to the
// present, applies a forced result if there is one and otherwise forwards
// to the instrument's member of the same name.
#include <chrono>
#include <cmath>
#include <memory>
#include <type_traits>

#include "platform/confined_file.h"
#include "platform/platform.h"
#include "sim/image_paths.h"
#include "sim/instrument.h"
#include "sim/request_log.h"
#include "sim/screen_state.h"
#include "sim/simulator.h"

namespace vesk::sim {
namespace {

class SteadyClock final : public SimClock {
 public:
  std::int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// While the steady clock runs the instrument, a pump brings it up to the
// present every few milliseconds, so that captures land on disk and runs
// end on time even when nobody asks. The platform's lock, event and thread
// rather than the standard library's: the Windows XP build's runtime has
// no std::thread.
constexpr std::uint32_t kPumpPeriodMs = 20;

struct Simulator {
  plat::Lock mutex;
  std::shared_ptr<const SimClock> clock = std::make_shared<SteadyClock>();
  std::unique_ptr<SimulatedInstrument> instrument = std::make_unique<SimulatedInstrument>(InstrumentSetup{});
  SemWindow managerWindow = nullptr;
  RequestLog requests;
  plat::ThreadHandle pump = nullptr;
  plat::Event pumpWake;
  bool pumpStopping = false;  // with mutex

  ~Simulator() { StopPump(); }

  // Called without the lock held: the pump needs it to finish.
  void StopPump() {
    if (pump == nullptr) return;
    {
      plat::LockGuard guard(mutex);
      pumpStopping = true;
    }
    pumpWake.Set();
    plat::NativePlatform().joinThread(pump);
    pump = nullptr;
    pumpStopping = false;
    pumpWake.Reset();
  }

  // The simulator's own thread, not the service's: the native table, which
  // a test's failing thread starts do not reach.
  void StartPump() { pump = plat::NativePlatform().startThread(RunPump, this); }

  static void RunPump(void* self) {
    auto& simulator = *static_cast<Simulator*>(self);
    for (;;) {
      simulator.pumpWake.Wait(kPumpPeriodMs);
      plat::LockGuard guard(simulator.mutex);
      if (simulator.pumpStopping) return;
      simulator.instrument->AdvanceTo(simulator.clock->NowMs());
    }
  }
};

Simulator& TheSimulator() {
  static Simulator simulator;
  return simulator;
}

template <typename Result>
Result ForcedResult(std::int32_t value) {
  return value;
}
template <>
SemWindow ForcedResult<SemWindow>(std::int32_t) {
  return nullptr;
}

bool BuildOverrides(const SimulatorOptions& options, Overrides& overrides, std::string* error) {
  for (const std::string& name : options.refusedOperations) {
    if (!overrides.Refuse(name, error)) return false;
  }
  for (const std::string& entry : options.pinnedResults) {
    if (!overrides.Pin(entry, error)) return false;
  }
  return true;
}

}  // namespace

template <typename Result>
std::int64_t ResultValue(Result result) {
  if constexpr (std::is_pointer_v<Result>) {
    return result != nullptr ? 1 : 0;
  } else {
    return result;
  }
}

template <typename Result, typename Body, typename Describe>
Result Enter(SemOp op, Body body, Describe describe) {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  const std::int64_t now = simulator.clock->NowMs();
  simulator.instrument->AdvanceTo(now);
  const std::optional<std::int32_t> forced = simulator.instrument->overrides().Forced(op);
  const Result result = forced ? ForcedResult<Result>(*forced) : body(*simulator.instrument);
  if (simulator.requests.keeping()) {
    ArgumentText arguments;
    describe(arguments);
    simulator.requests.Add(RequestRecord{now, op, arguments.text(), ResultValue(result), forced.has_value()});
  }
  return result;
}

bool ApplySimulatorOptions(const SimulatorOptions& options, std::string* error) {
  return ApplySimulatorOptions(options, nullptr, error);
}

bool ApplySimulatorOptions(const SimulatorOptions& options, std::shared_ptr<const SimClock> clock,
                           std::string* error) {
  if (!(options.timeScale >= 0.0) || !std::isfinite(options.timeScale)) {
    if (error != nullptr) *error = "the time scale must be a finite number of at least 0";
    return false;
  }
  Overrides overrides;
  if (!BuildOverrides(options, overrides, error)) return false;
  InstrumentSetup setup{options.instrumentType, options.timeScale, options.seed, options.imageFolder,
                        options.settingsFile, options.placeholderCaptures, {}};
  if (!options.scenarioFile.empty()) {
    std::optional<std::vector<ScenarioEvent>> scenario = ReadScenario(options.scenarioFile, error);
    if (!scenario) return false;
    setup.scenario = std::move(*scenario);
  }
  // Temporaries of captures cut short by a kill are of no use to anyone.
  plat::RemoveLeftoverParts(Utf8Of(options.imageFolder).c_str());
  auto instrument = std::make_unique<SimulatedInstrument>(setup);
  instrument->overrides() = overrides;
  const bool ownClock = clock != nullptr;
  if (!ownClock) clock = std::make_shared<SteadyClock>();

  Simulator& simulator = TheSimulator();
  simulator.StopPump();
  {
    plat::LockGuard guard(simulator.mutex);
    instrument->SetManagerWindow(simulator.managerWindow);
    instrument->AdvanceTo(clock->NowMs());
    simulator.instrument = std::move(instrument);
    simulator.clock = std::move(clock);
  }
  if (!ownClock && options.timeScale > 0.0) simulator.StartPump();
  return true;
}

void SetManagerWindow(SemWindow window) {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  simulator.managerWindow = window;
  simulator.instrument->SetManagerWindow(window);
}

void InjectFault(Fault fault) {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  simulator.instrument->AdvanceTo(simulator.clock->NowMs());
  simulator.instrument->InjectFault(fault);
}

bool RefuseOperation(std::string_view name, std::string* error) {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  return simulator.instrument->overrides().Refuse(name, error);
}

bool PinResult(std::string_view entry, std::string* error) {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  return simulator.instrument->overrides().Pin(entry, error);
}

void ClearOverrides() {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  simulator.instrument->overrides().Clear();
}

ScreenSnapshot ReadScreen() {
  Simulator& simulator = TheSimulator();
  ScreenSnapshot snapshot;
  snapshot.requests.reserve(kKeptRequests);
  snapshot.changes.reserve(kKeptRequests);
  plat::LockGuard guard(simulator.mutex);
  // Not brought up to the present: the pump does that, and a reader must
  // not decide when the instrument's time moves.
  snapshot.state = simulator.instrument->Screen();
  simulator.requests.CopyRecent(snapshot.requests, snapshot.changes);
  snapshot.requestCount = simulator.requests.count();
  return snapshot;
}

void KeepRequests(bool on) {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  simulator.requests.Keep(on);
}

std::optional<CaptureRecord> LastCapture() {
  Simulator& simulator = TheSimulator();
  plat::LockGuard guard(simulator.mutex);
  simulator.instrument->AdvanceTo(simulator.clock->NowMs());
  return simulator.instrument->LastCapture();
}

}  // namespace vesk::sim

extern "C" {
#define SEM_OPERATION(result, name, params, args)                                                      \
  result SEM_CALL sem_##name params {                                                                  \
    return vesk::sim::Enter<result>(                                                                   \
        vesk::SemOp::name, [&](vesk::sim::SimulatedInstrument& instrument) { return instrument.name args; }, \
        [&](vesk::sim::ArgumentText& text) { text.Add args; });                                        \
  }
#include "scope/sem_operations.def"
}
