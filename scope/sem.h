// The microscope control library (TRELL32.dll) as the service uses it: the
// declarations of its 98 sem_ operations. Exactly one implementation stands
// behind them in each program: the simulated instrument, the scriptable test
// double, or, on Windows, the maker's DLL (callee-cleans convention,
// undecorated names).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scope/sem_records.h"

#if defined(_WIN32)
#define SEM_CALL __stdcall
#else
#define SEM_CALL
#endif

namespace vesk {
// The manager application's window, as the library hands it out.
using SemWindow = void*;

// One enumerator per operation, in the order of sem_operations.def.
enum class SemOp : int {
#define SEM_OPERATION(result, name, params, args) name,
#include "scope/sem_operations.def"
  kCount
};

inline constexpr int kSemOperationCount = static_cast<int>(SemOp::kCount);
static_assert(kSemOperationCount == 98);

// "GetHT" for SemOp::GetHT (without the sem_ prefix).
const char* SemOpName(SemOp op);
}  // namespace vesk

extern "C" {
#define SEM_OPERATION(result, name, params, args) result SEM_CALL sem_##name params;
#include "scope/sem_operations.def"
}
