// Turns at the instrument: one command at a time in the whole server, and
// when a command ends the next turn goes to the waiting connection that has
// used the instrument least. A client of short commands then waits about
// one command in progress, however many clients loop on long ones, and the
// long ones take the rest in turn.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace vesk {

inline constexpr int kTurnSeatCount = 20;  // one per client slot
// A connection back after a quiet spell is placed at most this far below
// the least-used waiting connection: ahead of them all, but without the
// credit of its whole silence, which would let it hold the instrument for as
// long as it had been away.
inline constexpr std::uint32_t kReturnCreditMs = 1000;
// After a quick command, while the most deserving waiter has waited less
// than kHandOffAfterMs, a released turn is free for whoever comes first, as
// with a plain lock: handing every sub-millisecond command to a sleeping
// thread would leave the instrument idle while it wakes (20 clients of
// quick reads lost over half their throughput that way). After a command of kLongCommandMs or
// more, or a wait that long, the turn is handed to that waiter and nobody
// else may take it.
inline constexpr std::uint32_t kHandOffAfterMs = 2;
inline constexpr std::uint32_t kLongCommandMs = 5;

class CommandTurns {
 public:
  CommandTurns() = default;
  CommandTurns(const CommandTurns&) = delete;
  CommandTurns& operator=(const CommandTurns&) = delete;

  // A connection has taken the seat: it starts level with the least-used
  // waiting connection (or with the last one served, when none waits), so
  // it neither jumps the queue nor starves.
  void Join(int seat);
  // Blocks until it is the seat's turn; the turn is held until Release.
  void Take(int seat);
  // Ends the seat's turn, charges it the time held (at least 1 ms, so that
  // a flood of quick commands also counts) and wakes the least-used waiting
  // seat (on a tie the one that began waiting first), handing it the turn
  // once it has waited kHandOffAfterMs.
  void Release(int seat);


 private:
  struct Seat {
    std::uint64_t usedUs = 0;  // microseconds: equal commands rarely tie
    std::uint64_t arrival = 0;  // order of waiting, for ties
    std::uint64_t waitingSinceUs = 0;
    bool waiting = false;
    plat::Event turn;
  };

  std::uint64_t LeastWaitingOr(std::uint64_t otherwise) const;
  void Grant(int seat, std::uint64_t nowUs);

  plat::Lock lock_;
  Seat seats_[kTurnSeatCount];
  int holder_ = -1;  // -1: the turn is free
  int woken_ = -1;   // a waiter woken to take a free turn, not yet running
  int waitingCount_ = 0;
  std::uint64_t heldSinceUs_ = 0;
  std::uint64_t servedLevelUs_ = 0;  // used time of the seat last given a turn
  std::uint64_t nextArrival_ = 0;
};

}  // namespace vesk
