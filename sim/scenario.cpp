#include "sim/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/regular_file.h"
#include "sim/overrides.h"
#include "sim/simulator.h"
#include "sim/stage.h"
#include "sim/text.h"

namespace vesk::sim {
namespace {

enum Arguments { kNoArguments, kAxis, kAxisAndNumber, kLateralAxisAndNumber, kNumber, kOperation, kPinnedResult };

struct EventSyntax {
  ScenarioAction action;
  std::string_view keyword;
  Arguments arguments;
};

constexpr EventSyntax kEvents[] = {
#define SCENARIO_EVENT(name, keyword, arguments) {ScenarioAction::name, keyword, arguments},
#include "sim/scenario_events.def"
};

// What an event's number may be: [lowest, highest], and what it is.
struct NumberLimits {
  ScenarioAction action;
  double lowest;
  double highest;
  bool lowestIncluded;
  const char* meaning;
};

constexpr NumberLimits kLimits[] = {
    {ScenarioAction::Slow, 0.0, 1.0, false, "a speed factor more than 0 and at most 1"},
    {ScenarioAction::Drift, -100.0, 100.0, true, "a drift of -100 to 100 um/s"},
    {ScenarioAction::Backlash, 0.0, 1.0, true, "a backlash of 0 to 1 mm"},
    {ScenarioAction::Charging, 0.0, 0.1, true, "a charging rate of 0 to 0.1 of full scale per second"},
};

constexpr std::string_view kAxisNames[kStageAxes] = {"x", "y", "z", "tilt", "rotation"};
constexpr std::size_t kLargestScenario = 1 << 20;

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    const std::size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r') ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

std::optional<double> Number(std::string_view text) {
  if (text.empty() || text.size() > 32) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// "250ms", "20s", "1.5min".
std::optional<std::int64_t> Time(std::string_view text) {
  struct Unit {
    std::string_view suffix;
    double ms;
  };
  constexpr Unit kUnits[] = {{"ms", 1.0}, {"min", 60000.0}, {"s", 1000.0}};
  for (const Unit& unit : kUnits) {
    if (text.size() <= unit.suffix.size() || !SameName(text.substr(text.size() - unit.suffix.size()), unit.suffix)) {
      continue;
    }
    const std::optional<double> value = Number(text.substr(0, text.size() - unit.suffix.size()));
    if (!value || *value < 0.0 || *value * unit.ms > 1e12) return std::nullopt;
    return std::llround(*value * unit.ms);
  }
  return std::nullopt;
}

std::optional<int> Axis(std::string_view name, bool lateralOnly) {
  for (int axis = 0; axis < (lateralOnly ? 2 : kStageAxes); ++axis) {
    if (SameName(name, kAxisNames[axis])) return axis;
  }
  return std::nullopt;
}

// One line's event; false with the reason in *error.
bool ParseEvent(const std::vector<std::string_view>& words, ScenarioEvent& event, std::string* error) {
  const std::optional<std::int64_t> at = Time(words[0]);
  if (!at) {
    *error = "\"" + std::string(words[0]) + "\" is not a time such as 250ms, 20s or 1.5min";
    return false;
  }
  event.atMs = *at;
  if (words.size() < 2) {
    *error = "an event is missing after the time";
    return false;
  }
  const EventSyntax* syntax = nullptr;
  for (const EventSyntax& candidate : kEvents) {
    if (SameName(words[1], candidate.keyword)) syntax = &candidate;
  }
  if (syntax == nullptr) {
    *error = "no event is called \"" + std::string(words[1]) + "\"";
    return false;
  }
  event.action = syntax->action;
  static constexpr std::size_t kWordCount[] = {2, 3, 4, 4, 3, 3, 3};
  if (words.size() != kWordCount[syntax->arguments]) {
    *error = std::string(syntax->keyword) + " takes " + std::to_string(kWordCount[syntax->arguments] - 2) +
             " argument(s), not " + std::to_string(words.size() - 2);
    return false;
  }
  switch (syntax->arguments) {
    case kNoArguments:
      return true;
    case kAxis:
    case kAxisAndNumber:
    case kLateralAxisAndNumber: {
      const bool lateral = syntax->arguments == kLateralAxisAndNumber;
      const std::optional<int> axis = Axis(words[2], lateral);
      if (!axis) {
        *error = "\"" + std::string(words[2]) + "\" is not an axis (" + (lateral ? "X or Y" : "X, Y, Z, TILT or ROTATION") + ")";
        return false;
      }
      event.axis = *axis;
      if (syntax->arguments == kAxis) return true;
      [[fallthrough]];
    }
    case kNumber: {
      const std::string_view word = words.back();
      const std::optional<double> amount = Number(word);
      const auto limits = std::find_if(std::begin(kLimits), std::end(kLimits),
                                       [&](const NumberLimits& l) { return l.action == event.action; });
      if (!amount || *amount > limits->highest || *amount < limits->lowest ||
          (!limits->lowestIncluded && *amount == limits->lowest)) {
        *error = "\"" + std::string(word) + "\" is not " + limits->meaning;
        return false;
      }
      event.amount = *amount;
      return true;
    }
    case kOperation: {
      const std::optional<SemOp> op = SemOpFromName(words[2]);
      if (!op) {
        *error = "no control-library operation is called \"" + std::string(words[2]) + "\"";
        return false;
      }
      event.op = *op;
      return true;
    }
    case kPinnedResult: {
      Overrides check;
      if (!check.Pin(words[2], error)) return false;
      event.op = *SemOpFromName(words[2].substr(0, words[2].find('=')));
      event.value = *check.Forced(event.op);
      return true;
    }
  }
  return false;
}

// Errors read "<where><line>: what".
std::optional<std::vector<ScenarioEvent>> ParseLines(std::string_view text, const std::string& where,
                                                     std::string* error) {
  std::vector<ScenarioEvent> events;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    line = line.substr(0, line.find('#'));
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    ScenarioEvent event;
    event.line = number;
    std::string reason;
    if (!ParseEvent(words, event, &reason)) {
      if (error != nullptr) *error = where + std::to_string(number) + ": " + reason;
      return std::nullopt;
    }
    events.push_back(event);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.atMs < b.atMs; });
  return events;
}

}  // namespace

std::optional<std::vector<ScenarioEvent>> ParseScenario(std::string_view text, std::string* error) {
  return ParseLines(text, "line ", error);
}

std::optional<std::vector<ScenarioEvent>> ReadScenario(const std::filesystem::path& file, std::string* error) {
  std::string text;
  const char* problem = nullptr;
  switch (plat::ReadRegularFile(file.string().c_str(), kLargestScenario, &text)) {
    case plat::FileRead::kRead: return ParseLines(text, file.string() + ":", error);
    case plat::FileRead::kNotRegular: problem = ": not a regular file (a folder, a FIFO or a device)"; break;
    case plat::FileRead::kTooLarge: problem = ": longer than a scenario can be (1 MiB)"; break;
    case plat::FileRead::kCannotRead: problem = ": cannot be read"; break;
  }
  if (error != nullptr) *error = file.string() + problem;
  return std::nullopt;
}

}  // namespace vesk::sim
