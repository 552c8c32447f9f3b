// The program's binding to TRELL32.dll, against the stand-in DLL of that
// name: the loader resolves all 98 operations by their undecorated names,
// every call arrives with its own arguments in order (and, being stdcall,
// leaves the stack as it found it), its result comes back, and a command
// handled by the service reaches the DLL as the real one would.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "protocol/command_table.h"
#include "protocol/wire.h"
#include "scope/sem.h"
#include "tests/trell32/stand_in_trell32.h"

namespace vesk::testing {
namespace {

using trell32_stand_in::Call;

HMODULE Library() { return ::GetModuleHandleA("TRELL32.dll"); }

template <typename Function>
Function Export(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(Library(), name)));
}

void Clear() { Export<trell32_stand_in::ClearFunction>(trell32_stand_in::kClearName)(); }

std::vector<Call> Calls() {
  const auto count = Export<trell32_stand_in::CallCountFunction>(trell32_stand_in::kCallCountName);
  const auto at = Export<trell32_stand_in::CallAtFunction>(trell32_stand_in::kCallAtName);
  std::vector<Call> calls(static_cast<std::size_t>(count()));
  for (std::size_t i = 0; i < calls.size(); ++i) at(static_cast<std::int32_t>(i), &calls[i]);
  return calls;
}

TEST(Trell32BindingTest, TheLoadedLibraryIsTheStandInWithUndecoratedNames) {
  ASSERT_NE(Library(), nullptr) << "the program does not import TRELL32.dll";
  char path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(Library(), path, sizeof path), 0u);
  ASSERT_NE(Export<FARPROC>(trell32_stand_in::kCallCountName), nullptr) << path << " is not the stand-in";
  for (int i = 0; i < kSemOperationCount; ++i) {
    const std::string name = std::string("sem_") + SemOpName(static_cast<SemOp>(i));
    EXPECT_NE(Export<FARPROC>(name.c_str()), nullptr) << name;
    // The decorated forms are not what the library exports.
    for (const char* suffix : {"@0", "@4", "@8", "@12", "@16"}) {
      EXPECT_EQ(Export<FARPROC>((name + suffix).c_str()), nullptr) << name << suffix;
      EXPECT_EQ(Export<FARPROC>(("_" + name + suffix).c_str()), nullptr) << name << suffix;
    }
  }
}

// A distinct value for argument k of operation op, of the argument's type.
template <typename T>
T ArgumentValue(int op, int k, std::vector<std::uint8_t>& storage) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(storage.data() + 64 * k);
  } else {
    // 32-bit arguments carry high bits too, so none is cut to 16 on the way.
    const int high = sizeof(T) > 2 ? 0x12340000 : 0;
    return static_cast<T>(high + op * 16 + k + 1);
  }
}

template <typename T>
std::int32_t Widened(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(value));
  } else {
    return static_cast<std::int32_t>(value);
  }
}

template <typename... Params, std::size_t... K>
std::tuple<Params...> Arguments(int op, std::vector<std::uint8_t>& storage, std::index_sequence<K...>) {
  (void)op;  // unused by operations without arguments
  (void)storage;
  return std::tuple<Params...>{ArgumentValue<Params>(op, static_cast<int>(K), storage)...};
}

template <typename Result, typename... Params>
void CallAndCheck(int op, Result(SEM_CALL* function)(Params...)) {
  SCOPED_TRACE(SemOpName(static_cast<SemOp>(op)));
  std::vector<std::uint8_t> storage(256);
  const std::tuple<Params...> arguments =
      Arguments<Params...>(op, storage, std::make_index_sequence<sizeof...(Params)>{});
  Clear();
  const Result result = std::apply(function, arguments);
  if constexpr (std::is_pointer_v<Result>) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(result), trell32_stand_in::kManagerHandle);
  } else {
    EXPECT_EQ(result, trell32_stand_in::ResultOf(op));
  }
  const std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].op, op);
  ASSERT_EQ(calls[0].count, static_cast<std::int32_t>(sizeof...(Params)));
  std::apply(
      [&](auto... values) {
        const std::int32_t expected[] = {Widened(values)..., 0};
        for (std::size_t i = 0; i < sizeof...(values); ++i) EXPECT_EQ(calls[0].args[i], expected[i]) << "argument " << i;
      },
      arguments);
}

TEST(Trell32BindingTest, EveryOperationArrivesWithItsArgumentsAndAnswers) {
#define SEM_OPERATION(result, name, params, args) CallAndCheck(static_cast<int>(SemOp::name), sem_##name);
#include "scope/sem_operations.def"
}

TEST(Trell32BindingTest, ACommandReachesTheLibrary) {
  SetEnableFenkFlag(1);
  std::uint8_t message[1024] = {};
  WriteU16(message, 20);
  std::memcpy(message + 6, "EMGS", 4);
  WriteS32(message + 16, 1000);
  Clear();
  DispatchCommand(message, message + 16);
  const std::vector<Call> calls = Calls();
  ASSERT_GE(calls.size(), 3u);
  bool setMagnification = false;
  for (const Call& call : calls) {
    if (call.op == static_cast<int>(SemOp::SetMagAbs)) {
      setMagnification = true;
      EXPECT_EQ(call.count, 1);
      EXPECT_EQ(call.args[0], 1000);
    }
  }
  EXPECT_TRUE(setMagnification);
  EXPECT_EQ(calls.back().op, static_cast<int>(SemOp::GetMag));
  EXPECT_EQ(ReadU32(message + 16), static_cast<std::uint32_t>(trell32_stand_in::ResultOf(static_cast<int>(SemOp::GetMag))));
  EXPECT_EQ(ReadU16(message), 20u);
  EXPECT_EQ(std::memcmp(message + 2, "BS!a", 4), 0);
}

}  // namespace
}  // namespace vesk::testing
