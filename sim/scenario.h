// Scenario files: faults and imperfections scripted at times on the
// simulator's clock, so that a client's recovery code can meet them in the
// middle of a run. Plain text, one event a line (format in sim/README.md):
//   20s vacuum-loss
//   1.5min pin GetVacuumStatus=2
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scope/sem.h"

namespace vesk::sim {

enum class ScenarioAction {
#define SCENARIO_EVENT(name, keyword, arguments) name,
#include "sim/scenario_events.def"
};

struct ScenarioEvent {
  std::int64_t atMs = 0;          // clock reading at which it happens
  ScenarioAction action = ScenarioAction::VacuumLoss;
  int axis = 0;                   // StageAxis
  double amount = 0.0;            // factor, um/s, mm or degrees, or per second
  SemOp op = SemOp::GetHT;
  std::int32_t value = 0;         // a pinned result
  int line = 0;
};

// The events of a scenario's text in time order (events of the same time
// in the order of their lines). Nothing, with "line N: what" in *error,
// when a line does not parse.
std::optional<std::vector<ScenarioEvent>> ParseScenario(std::string_view text, std::string* error);
// The same from a file; errors read "FILE:N: what".
std::optional<std::vector<ScenarioEvent>> ReadScenario(const std::filesystem::path& file, std::string* error);

}  // namespace vesk::sim
