// The journal of the stand-in TRELL32.dll, read by the binding test through
// GetProcAddress (the names below are exported undecorated, like the
// library's own).
#pragma once

#include <cstdint>

namespace vesk::trell32_stand_in {

inline constexpr int kMaxArguments = 4;

// One call that reached the DLL: the operation's index in
// sem_operations.def and its arguments, widened to 32 bits (a record or a
// name: its address).
struct Call {
  std::int32_t op;
  std::int32_t count;
  std::int32_t args[kMaxArguments];
};

// What every operation returns: 1000 + its index, so that a caller that
// reads a result of the wrong operation is caught. GetManagerHandle returns
// kManagerHandle.
inline constexpr std::int32_t ResultOf(int op) { return 1000 + op; }
inline constexpr std::uintptr_t kManagerHandle = 0x4D470000u;

using CallCountFunction = std::int32_t(__stdcall*)();
using CallAtFunction = std::int32_t(__stdcall*)(std::int32_t index, Call* call);
using ClearFunction = void(__stdcall*)();

inline constexpr char kCallCountName[] = "StandInCallCount";
inline constexpr char kCallAtName[] = "StandInCallAt";
inline constexpr char kClearName[] = "StandInClear";

}  // namespace vesk::trell32_stand_in
