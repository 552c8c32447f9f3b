#include "scope/sem.h"

#include <iterator>

namespace vesk {
namespace {
constexpr const char* kNames[] = {
#define SEM_OPERATION(result, name, params, args) #name,
#include "scope/sem_operations.def"
};
static_assert(std::size(kNames) == kSemOperationCount);
}  // namespace

const char* SemOpName(SemOp op) {
  int index = static_cast<int>(op);
  return index >= 0 && index < kSemOperationCount ? kNames[index] : "?";
}
}  // namespace vesk
