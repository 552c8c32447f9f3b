#include "server/command_turns.h"

#include <chrono>

namespace vesk {
namespace {

// A steady clock finer than the millisecond tick, so that commands of
// equal length still leave their connections apart.
std::uint64_t NowUs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

std::uint64_t CommandTurns::LeastWaitingOr(std::uint64_t otherwise) const {
  bool found = false;
  std::uint64_t least = otherwise;
  for (const Seat& seat : seats_) {
    if (seat.waiting && (!found || seat.usedUs < least)) {
      least = seat.usedUs;
      found = true;
    }
  }
  return least;
}

void CommandTurns::Join(int seat) {
  plat::LockGuard guard(lock_);
  seats_[seat].usedUs = LeastWaitingOr(servedLevelUs_);
}

void CommandTurns::Grant(int index, std::uint64_t now) {
  Seat& seat = seats_[index];
  if (seat.waiting) {
    seat.waiting = false;
    --waitingCount_;
  }
  holder_ = index;
  heldSinceUs_ = now;
  if (seat.usedUs > servedLevelUs_) servedLevelUs_ = seat.usedUs;
}

void CommandTurns::Take(int index) {
  Seat& seat = seats_[index];
  lock_.Enter();
  const std::uint64_t level = LeastWaitingOr(servedLevelUs_);
  const std::uint64_t floor = level > kReturnCreditMs * 1000u ? level - kReturnCreditMs * 1000u : 0;
  if (seat.usedUs < floor) seat.usedUs = floor;
  while (holder_ != index) {
    if (holder_ < 0) {
      Grant(index, NowUs());
      break;
    }
    if (!seat.waiting) {
      seat.waiting = true;
      seat.arrival = nextArrival_++;
      seat.waitingSinceUs = NowUs();
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
  const std::uint64_t now = NowUs();
  const std::uint64_t held = now - heldSinceUs_;
  seats_[index].usedUs += held > 1000u ? held : 1000u;
  holder_ = -1;
  Seat* next = nullptr;
  for (Seat& seat : seats_) {
    if (!seat.waiting) continue;
    if (next == nullptr || seat.usedUs < next->usedUs ||
        (seat.usedUs == next->usedUs && seat.arrival < next->arrival)) {
      next = &seat;
    }
  }
  if (next == nullptr) return;
  const int nextIndex = static_cast<int>(next - seats_);
  if (held >= kLongCommandMs * 1000u || now - next->waitingSinceUs >= kHandOffAfterMs * 1000u) {
    Grant(nextIndex, now);
  } else if (woken_ >= 0) {
    return;  // one woken waiter not yet running is enough to keep the turn busy
  }
  woken_ = nextIndex;
  next->turn.Set();
}


}  // namespace vesk
