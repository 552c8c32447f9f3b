// The scriptable test double of the control library. Every operation has a
// default result (getters 0, every other operation 1: accepted); a test can
// set a fixed result, script a sequence of results that are used up call by
// call (then the fixed result applies again), hook an operation with its own
// function, and read back the ordered journal of calls with their arguments.
// Safe to use from the test thread while the server's threads call in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scope/sem.h"

namespace vesk::scope_double {

struct Call {
  SemOp op;
  std::vector<std::int64_t> args;  // integer arguments, in order
  std::string text;                // LoadRecipeFileEx: the name
  std::vector<std::uint8_t> record;  // record arguments: their bytes at the call
};

// Back to defaults: no scripts, no hooks, empty journal.
void Reset();

void SetResult(SemOp op, std::int32_t result);
void ScriptResults(SemOp op, std::vector<std::int32_t> results);
// A hook decides the result itself (it may look at the call's arguments);
// it runs without the double's lock held and may call other setters here.
void SetHook(SemOp op, std::function<std::int32_t(const Call&)> hook);

// What GetStageInfo writes into the caller's record.
void SetStageInfo(const StageInfoRecord& info);
void SetManagerHandle(SemWindow window);

std::vector<Call> Journal();
std::vector<Call> CallsTo(SemOp op);
std::size_t CallCount(SemOp op);
// The journal as operation names, e.g. {"GetSemType", "SetMagAbs"}.
std::vector<std::string> CallNames();
void ClearJournal();

}  // namespace vesk::scope_double
