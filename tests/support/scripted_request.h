// Compact request tests: one request against a freshly reset control-library
// double, and the library actions it took, written as text.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "tests/support/double_fixture.h"

namespace vesk::testing {

using LibraryResults = std::initializer_list<std::pair<SemOp, std::int32_t>>;

// The given library results first, then the request's signed 16-bit body
// fields at offsets 0, 2, ..., then dispatch.
inline RequestBuffer RunScripted(const char* code, LibraryResults results,
                                 std::initializer_list<std::int16_t> fields = {}) {
  scope_double::Reset();
  for (auto [op, result] : results) scope_double::SetResult(op, result);
  RequestBuffer request(code);
  std::size_t offset = 0;
  for (std::int16_t field : fields) request.BodyS16((offset += 2) - 2, field);
  request.Dispatch();
  return request;
}

// Every journal call but the getters, e.g. "SetStigXAbs(0) SetStigYAbs(4095)".
inline std::string ActionsTaken() {
  std::string text;
  for (const scope_double::Call& call : scope_double::Journal()) {
    const std::string name = SemOpName(call.op);
    if (name.starts_with("Get")) continue;
    text += (text.empty() ? "" : " ") + name + "(";
    for (std::size_t i = 0; i < call.args.size(); ++i) text.append(i ? "," : "").append(std::to_string(call.args[i]));
    text += ")";
  }
  return text;
}

}  // namespace vesk::testing
