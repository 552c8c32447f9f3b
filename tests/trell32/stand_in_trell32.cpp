// A stand-in for the maker's TRELL32.dll: all 98 operations, generated from
// scope/sem_operations.def with the declarations of scope/sem.h (stdcall),
// each noting its call and arguments and returning a result that names it.
// Linked with --kill-at, so the exports carry the undecorated names.
#include <windows.h>

#include <cstring>
#include <tuple>
#include <type_traits>

#include "scope/sem.h"
#include "tests/trell32/stand_in_trell32.h"

namespace {

using vesk::trell32_stand_in::Call;

constexpr int kJournalSize = 4096;
CRITICAL_SECTION journalLock;
Call journal[kJournalSize];
int journalCount = 0;

template <typename T>
std::int32_t Widened(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(value));
  } else {
    return static_cast<std::int32_t>(value);
  }
}

template <typename... Args>
void Note(vesk::SemOp op, Args... args) {
  Call call{static_cast<std::int32_t>(op), static_cast<std::int32_t>(sizeof...(Args)), {}};
  int i = 0;
  ((call.args[i++] = Widened(args)), ...);
  ::EnterCriticalSection(&journalLock);
  if (journalCount < kJournalSize) journal[journalCount++] = call;
  ::LeaveCriticalSection(&journalLock);
}

template <typename Result>
Result ResultFor(vesk::SemOp op) {
  if constexpr (std::is_pointer_v<Result>) {
    return reinterpret_cast<Result>(vesk::trell32_stand_in::kManagerHandle);
  } else {
    return static_cast<Result>(vesk::trell32_stand_in::ResultOf(static_cast<int>(op)));
  }
}

}  // namespace

extern "C" {

#define SEM_OPERATION(result, name, params, args)                                           \
  __declspec(dllexport) result SEM_CALL sem_##name params {                                 \
    std::apply([](auto... values) { Note(vesk::SemOp::name, values...); }, std::make_tuple args); \
    return ResultFor<result>(vesk::SemOp::name);                                            \
  }
#include "scope/sem_operations.def"

__declspec(dllexport) std::int32_t __stdcall StandInCallCount() {
  ::EnterCriticalSection(&journalLock);
  const int count = journalCount;
  ::LeaveCriticalSection(&journalLock);
  return count;
}

__declspec(dllexport) std::int32_t __stdcall StandInCallAt(std::int32_t index, Call* call) {
  ::EnterCriticalSection(&journalLock);
  const bool found = index >= 0 && index < journalCount;
  if (found) *call = journal[index];
  ::LeaveCriticalSection(&journalLock);
  return found ? 1 : 0;
}

__declspec(dllexport) void __stdcall StandInClear() {
  ::EnterCriticalSection(&journalLock);
  journalCount = 0;
  ::LeaveCriticalSection(&journalLock);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) ::InitializeCriticalSection(&journalLock);
  return TRUE;
}

}  // extern "C"
