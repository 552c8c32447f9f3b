// Shared by the fuzz targets: the simulated instrument set up to run every
// command at once, and the checks a reply must pass whatever the request.
//
// An input is [flags][chunk][bytes]: flags bit 0 sets the EnableFenk flag,
// chunk limits how many bytes one receive returns (0: no limit), and the
// bytes are one request buffer (dispatch) or a connection's stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk::fuzz {

inline constexpr std::size_t kInputPrefix = 2;

// Power-on state, flag as the input says, no capture left from before.
void ResetForInput(std::uint8_t flags);

// The request (header at request[0], as it was before dispatch) against the
// buffer after it: a served code's reply is "BS!a", the code and reserved
// bytes, its one fixed length and a status of -1, 0 or the body size; any
// other code leaves all `compared` bytes as they were. Aborts on a fault.
void CheckDispatched(const std::uint8_t* request, const std::uint8_t* after, std::size_t compared);

// The last capture, if any, went inside the image folder, and nothing else
// appeared beside it. Aborts on a fault.
void CheckConfinement();

[[noreturn]] void Fail(const char* what);

}  // namespace vesk::fuzz
