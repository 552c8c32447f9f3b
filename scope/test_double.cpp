#include "scope/test_double.h"

#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <tuple>

namespace vesk::scope_double {
namespace {

struct State {
  std::mutex mutex;
  std::int32_t fixed[kSemOperationCount] = {};
  std::deque<std::int32_t> scripted[kSemOperationCount];
  std::function<std::int32_t(const Call&)> hooks[kSemOperationCount];
  std::vector<Call> journal;
  StageInfoRecord stageInfo{};
  SemWindow managerHandle = nullptr;

  State() { ResetLocked(); }
  void ResetLocked() {
    for (int i = 0; i < kSemOperationCount; ++i) {
      fixed[i] = std::strncmp(SemOpName(static_cast<SemOp>(i)), "Get", 3) == 0 ? 0 : 1;
      scripted[i].clear();
      hooks[i] = nullptr;
    }
    journal.clear();
    stageInfo = StageInfoRecord{};
    managerHandle = nullptr;
  }
};

State& TheState() {
  static State state;
  return state;
}

void Record(Call& call, std::int16_t v) { call.args.push_back(v); }
void Record(Call& call, std::int32_t v) { call.args.push_back(v); }
void Record(Call& call, SemWindow window) { call.args.push_back(reinterpret_cast<std::intptr_t>(window)); }
void Record(Call& call, const char* text) { call.text = text != nullptr ? text : ""; }
template <typename RecordType>
void Record(Call& call, RecordType* record) {
  if (record == nullptr) return;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(record);
  call.record.assign(bytes, bytes + sizeof(RecordType));
}

template <typename... Args>
std::int32_t Invoke(SemOp op, Args... args) {
  Call call{op, {}, {}, {}};
  (Record(call, args), ...);
  State& state = TheState();
  std::function<std::int32_t(const Call&)> hook;
  std::int32_t result = 0;
  {
    std::lock_guard<std::mutex> guard(state.mutex);
    const int index = static_cast<int>(op);
    state.journal.push_back(call);
    hook = state.hooks[index];
    if (!hook) {
      if (!state.scripted[index].empty()) {
        result = state.scripted[index].front();
        state.scripted[index].pop_front();
      } else {
        result = state.fixed[index];
      }
    }
  }
  return hook ? hook(call) : result;
}

}  // namespace

void Reset() {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  TheState().ResetLocked();
}

void SetResult(SemOp op, std::int32_t result) {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  TheState().fixed[static_cast<int>(op)] = result;
}

void ScriptResults(SemOp op, std::vector<std::int32_t> results) {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  auto& queue = TheState().scripted[static_cast<int>(op)];
  queue.assign(results.begin(), results.end());
}

void SetHook(SemOp op, std::function<std::int32_t(const Call&)> hook) {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  TheState().hooks[static_cast<int>(op)] = std::move(hook);
}

void SetStageInfo(const StageInfoRecord& info) {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  TheState().stageInfo = info;
}

void SetManagerHandle(SemWindow window) {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  TheState().managerHandle = window;
}

std::vector<Call> Journal() {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  return TheState().journal;
}

std::vector<Call> CallsTo(SemOp op) {
  std::vector<Call> calls;
  for (Call& call : Journal()) {
    if (call.op == op) calls.push_back(std::move(call));
  }
  return calls;
}

std::size_t CallCount(SemOp op) { return CallsTo(op).size(); }

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const Call& call : Journal()) names.emplace_back(SemOpName(call.op));
  return names;
}

void ClearJournal() {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  TheState().journal.clear();
}

namespace {

// Operations that hand data back through more than their result.
void FillStageInfo(StageInfoRecord* info) {
  std::lock_guard<std::mutex> guard(TheState().mutex);
  std::memcpy(info, &TheState().stageInfo, sizeof *info);
}

template <typename T>
void Effect(SemOp, T) {}
void Effect(SemOp op, StageInfoRecord* info) {
  if (op == SemOp::GetStageInfo && info != nullptr) FillStageInfo(info);
}

template <typename Result>
struct Returned {
  static Result From(SemOp, std::int32_t value) { return value; }
};
template <>
struct Returned<SemWindow> {
  static SemWindow From(SemOp, std::int32_t) {
    std::lock_guard<std::mutex> guard(TheState().mutex);
    return TheState().managerHandle;
  }
};

}  // namespace

template <typename Result, typename... Args>
Result Operation(SemOp op, Args... args) {
  std::int32_t value = Invoke(op, args...);
  (Effect(op, args), ...);
  return Returned<Result>::From(op, value);
}

}  // namespace vesk::scope_double

// The library's entry points, generated from the operation list.
extern "C" {
#define SEM_OPERATION(result, name, params, args)                                      \
  result SEM_CALL sem_##name params {                                                  \
    return std::apply(                                                                 \
        [](auto... values) { return vesk::scope_double::Operation<result>(vesk::SemOp::name, values...); }, \
        std::make_tuple args);                                                         \
  }
#include "scope/sem_operations.def"
}
