#include "server/command_turns.h"

namespace vesk {

std::uint64_t CommandTurns::LeastWaitingOr(std::uint64_t otherwise) const {
  bool found = false;
  std::uint64_t least = otherwise;
  for (const Seat& seat : seats_) {
    if (seat.waiting && (!found || seat.usedMs < least)) {
      least = seat.usedMs;
      found = true;
    }
  }
  return least;
}

void CommandTurns::Join(int seat) {
  plat::LockGuard guard(lock_);
  seats_[seat].usedMs = LeastWaitingOr(servedLevelMs_);
}

void CommandTurns::Grant(int index, std::uint32_t now) {
  Seat& seat = seats_[index];
  if (seat.waiting) {
    seat.waiting = false;
    --waitingCount_;
  }
  holder_ = index;
  heldSinceTick_ = now;
  if (seat.usedMs > servedLevelMs_) servedLevelMs_ = seat.usedMs;
}

void CommandTurns::Take(int index) {
  Seat& seat = seats_[index];
  lock_.Enter();
  const std::uint64_t level = LeastWaitingOr(servedLevelMs_);
  const std::uint64_t floor = level > kReturnCreditMs ? level - kReturnCreditMs : 0;
  if (seat.usedMs < floor) seat.usedMs = floor;
  while (holder_ != index) {
    if (holder_ < 0) {
      Grant(index, plat::Platform().tickCount());
      break;
    }
    if (!seat.waiting) {
      seat.waiting = true;
      seat.arrival = nextArrival_++;
      seat.waitingSinceTick = plat::Platform().tickCount();
      ++waitingCount_;
    }
    // Reset under the lock, Set only under it: no wake-up is lost.
    seat.turn.Reset();
    lock_.Leave();
    while (!seat.turn.Wait(60000)) {
    }
    lock_.Enter();
    if (woken_ == index) woken_ = -1;
  }
  lock_.Leave();
}

void CommandTurns::Release(int index) {
  plat::LockGuard guard(lock_);
  const std::uint32_t now = plat::Platform().tickCount();
  const std::uint32_t held = now - heldSinceTick_;
  seats_[index].usedMs += held > 0 ? held : 1;
  holder_ = -1;
  Seat* next = nullptr;
  for (Seat& seat : seats_) {
    if (!seat.waiting) continue;
    if (next == nullptr || seat.usedMs < next->usedMs ||
        (seat.usedMs == next->usedMs && seat.arrival < next->arrival)) {
      next = &seat;
    }
  }
  if (next == nullptr) return;
  const int nextIndex = static_cast<int>(next - seats_);
  if (held >= kLongCommandMs || now - next->waitingSinceTick >= kHandOffAfterMs) {
    Grant(nextIndex, now);
  } else if (woken_ >= 0) {
    return;  // one woken waiter not yet running is enough to keep the turn busy
  }
  woken_ = nextIndex;
  next->turn.Set();
}

std::uint64_t CommandTurns::UsedMs(int seat) {
  plat::LockGuard guard(lock_);
  return seats_[seat].usedMs;
}

}  // namespace vesk
