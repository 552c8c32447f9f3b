// Turns at the instrument: one command at a time in the whole server, and
// when a command ends the next turn goes to the waiting connection that has
// used the instrument least. A client of short commands then waits about
// one command in progress, however many clients loop on long ones, and the
// long ones take the rest in turn.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace vesk {

inline constexpr int kTurnSeatCount = 20;  // one per client slot
// A connection back after a quiet spell is placed below the least-used
// waiting connection by twice the longest command of late (at least
// kReturnCreditMs): ahead of them all, since waiters that share the
// instrument in turn lie within about one command of each other, but
// without the credit of its whole silence, which would let it hold the
// instrument for as long as it had been away.
inline constexpr std::uint32_t kReturnCreditMs = 1000;
// A command held this long is a long one: longer than a thread of a busy
// host is kept from running (a quick command preempted on a loaded machine
// must not count), shorter than the service's waiting commands. While one runs, and for
// kQueueAfterLongMs after one ended, every connection that finds the turn
// taken waits in the queue, and each turn is handed to the least-used
// waiter. Among quick commands alone, connections wait on the turn as on a
// plain lock (the queue's hand-offs to sleeping threads cost a quarter of
// the throughput of 20 clients of quick reads), unless the least-used
// waiter has waited kHandOffAfterMs: then it is handed the turn.
inline constexpr std::uint32_t kLongCommandMs = 50;
inline constexpr std::uint32_t kQueueAfterLongMs = 1000;
inline constexpr std::uint32_t kHandOffAfterMs = 20;

class CommandTurns {
 public:
  CommandTurns() = default;
  CommandTurns(const CommandTurns&) = delete;
  CommandTurns& operator=(const CommandTurns&) = delete;

  // A connection from address has taken the seat. It starts as one back
  // from a quiet spell would, just ahead of the least-used waiting
  // connection (or of the last one served, when none waits), so that its
  // first request waits only for the command in progress; but never below
  // the use of a connection that left from the same address, up to that
  // least-used level, so that reconnecting gains nothing.
  void Join(int seat, std::uint32_t address);
  // The seat's connection has ended: its use is kept for its address, and
  // passed on to a connection from there that has only just started.
  void Leave(int seat, std::uint32_t address);
  // Blocks until it is the seat's turn; the turn is held until Release.
  // Returns how long it waited, in microseconds.
  std::uint64_t Take(int seat);
  // Ends the seat's turn, charges it the time held (at least 1 ms, so that
  // a flood of quick commands also counts) and hands the turn to the
  // least-used waiter (on a tie the one that began waiting first) after a
  // long command or a long wait; otherwise frees it and wakes a waiter.
  void Release(int seat);

 private:
  struct Seat {
    // Written by the seat's own connection, read by the others to choose.
    std::atomic<std::uint64_t> usedUs{0};  // microseconds: equal commands rarely tie
    std::uint64_t heldSinceUs = 0;         // while the seat holds the turn
    // Set while its connection waits to enter turn_ directly, as on a plain
    // lock; such a seat is handed the turn like a queued one.
    std::atomic<bool> entering{false};
    std::atomic<std::uint64_t> arrival{0};  // order of waiting, for ties
    // Under queueLock_:
    std::uint32_t address = 0;  // of its connection
    std::uint64_t joinedUs = 0;
    std::uint64_t waitingSinceUs = 0;
    bool waiting = false;
    bool woken = false;  // its wake-up posted and not yet taken
    plat::Wakeup wakeup;
  };

  bool LongCommandsAbout(std::uint64_t nowUs) const;
  bool EnteredForSeat(int seat);
  Seat* MostDeserving(bool queuedToo);
  bool WaitInQueue(int seat);
  std::uint64_t LeastWaitingOr(std::uint64_t otherwise) const;
  std::uint64_t Floor(std::uint64_t level) const;
  void RaiseToFloor(Seat& seat, std::uint64_t level) const;
  void Hold(int seat);
  void WakeOneWaiter();
  void Wake(Seat& seat);

  // The turn itself, held by the seat whose turn it is. reservedFor_ is a
  // seat the last holder handed it to: anyone else who enters steps aside.
  static constexpr int kFree = -1;
  plat::Lock turn_;
  std::atomic<int> reservedFor_{kFree};
  std::atomic<int> enteringCount_{0};
  std::atomic<std::uint64_t> nextArrival_{0};
  std::atomic<std::uint64_t> holderSinceUs_{0};  // 0 while the turn is free
  std::atomic<std::uint64_t> longEndedUs_{0};    // when the last long command ended
  std::atomic<std::uint64_t> servedLevelUs_{0};  // used time of the seat last given a turn
  std::atomic<std::uint64_t> longestOfLateUs_{0};  // the longest hold, fading by 1/64 a turn
  std::atomic<int> waitingCount_{0};

  plat::Lock queueLock_;
  Seat seats_[kTurnSeatCount];
  struct Departure {
    std::uint32_t address = 0;
    std::uint64_t usedUs = 0;
  };
  Departure departures_[2 * kTurnSeatCount];  // under queueLock_
};

}  // namespace vesk
