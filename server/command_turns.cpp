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

void CommandTurns::Take(int index) {
  Seat& seat = seats_[index];
  {
    plat::LockGuard guard(lock_);
    const std::uint64_t level = LeastWaitingOr(servedLevelMs_);
    const std::uint64_t floor = level > kReturnCreditMs ? level - kReturnCreditMs : 0;
    if (seat.usedMs < floor) seat.usedMs = floor;
    if (holder_ < 0 && waitingCount_ == 0) {
      holder_ = index;
      heldSinceTick_ = plat::Platform().tickCount();
      if (seat.usedMs > servedLevelMs_) servedLevelMs_ = seat.usedMs;
      return;
    }
    seat.turn.Reset();
    seat.waiting = true;
    seat.arrival = nextArrival_++;
    ++waitingCount_;
  }
  while (!seat.turn.Wait(60000)) {
  }
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
  next->waiting = false;
  --waitingCount_;
  holder_ = static_cast<int>(next - seats_);
  heldSinceTick_ = now;
  if (next->usedMs > servedLevelMs_) servedLevelMs_ = next->usedMs;
  next->turn.Set();
}

std::uint64_t CommandTurns::UsedMs(int seat) {
  plat::LockGuard guard(lock_);
  return seats_[seat].usedMs;
}

}  // namespace vesk
