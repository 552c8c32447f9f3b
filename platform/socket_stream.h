// Whole messages over a connected socket: the loops that the service and
// the client both need, written once.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace plat {

// Sends all count bytes; 1 on success, 0 when a send failed or the
// connection closed (a count of 0 gives 0).
int SendAll(SocketHandle socket, const std::uint8_t* data, int count);

enum class Arrival { kWhole, kEnded, kTooSlow };

// What a caller adds around each receive of ReceiveExactly; the defaults
// take bytes as they come and end at the first receive without any.
class ReceivePace {
 public:
  virtual ~ReceivePace() = default;
  // Before each receive; false ends the loop as too slow.
  virtual bool BeforeReceive() { return true; }
  // After each receive that brought bytes.
  virtual void Received() {}
  // After a receive that brought none (result 0: closed, -1: error): true
  // receives again, otherwise *arrival says how the loop ends.
  virtual bool ReceiveAgain(int /*result*/, Arrival* arrival) {
    *arrival = Arrival::kEnded;
    return false;
  }
};

// Takes exactly count bytes off the socket, or says why not.
Arrival ReceiveExactly(SocketHandle socket, std::uint8_t* buffer, std::uint32_t count, ReceivePace& pace);
// Without a pace: whole, or ended at the first receive without bytes.
Arrival ReceiveExactly(SocketHandle socket, std::uint8_t* buffer, std::uint32_t count);

}  // namespace plat
