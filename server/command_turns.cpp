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

constexpr std::uint64_t kLeastChargeUs = 1000;

std::uint64_t Used(const std::atomic<std::uint64_t>& used) { return used.load(std::memory_order_relaxed); }

// Raised, never lowered, also while another thread raises it.
void RaiseTo(std::atomic<std::uint64_t>& used, std::uint64_t floor) {
  std::uint64_t now = Used(used);
  while (now < floor && !used.compare_exchange_weak(now, floor, std::memory_order_relaxed)) {
  }
}

// A connection that opens this soon before one from its address leaves has
// most likely replaced it (the old one's end is seen only after the new one
// has been accepted).
constexpr std::uint64_t kReplacedWithinUs = 1000000;

}  // namespace

std::uint64_t CommandTurns::LeastWaitingOr(std::uint64_t otherwise) const {
  bool found = false;
  std::uint64_t least = otherwise;
  for (const Seat& seat : seats_) {
    if (seat.waiting && (!found || Used(seat.usedUs) < least)) {
      least = Used(seat.usedUs);
      found = true;
    }
  }
  return least;
}

std::uint64_t CommandTurns::Floor(std::uint64_t level) const {
  const std::uint64_t longest = 2 * Used(longestOfLateUs_);
  const std::uint64_t credit = longest > kReturnCreditMs * 1000u ? longest : kReturnCreditMs * 1000u;
  return level > credit ? level - credit : 0;
}

void CommandTurns::RaiseToFloor(Seat& seat, std::uint64_t level) const { RaiseTo(seat.usedUs, Floor(level)); }

void CommandTurns::Join(int seat, std::uint32_t address) {
  plat::LockGuard guard(queueLock_);
  const std::uint64_t level = LeastWaitingOr(Used(servedLevelUs_));
  std::uint64_t start = Floor(level);
  for (const Departure& departure : departures_) {
    if (departure.address != address || departure.usedUs <= start) continue;
    start = departure.usedUs < level ? departure.usedUs : level;
  }
  Seat& joined = seats_[seat];
  joined.usedUs.store(start, std::memory_order_relaxed);
  joined.address = address;
  joined.joinedUs = NowUs();
}

void CommandTurns::Leave(int seat, std::uint32_t address) {
  plat::LockGuard guard(queueLock_);
  const std::uint64_t used = Used(seats_[seat].usedUs);
  // The address's entry, or else the one of least use: the least to lose.
  Departure* entry = &departures_[0];
  for (Departure& departure : departures_) {
    if (departure.address == address) {
      entry = &departure;
      break;
    }
    if (departure.usedUs < entry->usedUs) entry = &departure;
  }
  if (entry->address != address || entry->usedUs < used) *entry = Departure{address, used};
  const std::uint64_t level = LeastWaitingOr(Used(servedLevelUs_));
  const std::uint64_t now = NowUs();
  for (Seat& other : seats_) {
    if (&other == &seats_[seat] || other.address != address || now - other.joinedUs >= kReplacedWithinUs) continue;
    RaiseTo(other.usedUs, used < level ? used : level);
  }
}

bool CommandTurns::LongCommandsAbout(std::uint64_t now) const {
  const std::uint64_t longEnded = longEndedUs_.load();
  if (longEnded != 0 && now - longEnded < kQueueAfterLongMs * 1000u) return true;
  const std::uint64_t heldSince = holderSinceUs_.load();
  return heldSince != 0 && now - heldSince >= kLongCommandMs * 1000u;
}

// Called with turn_ entered: true when the turn is the seat's, false (and
// turn_ left) when it was handed to another seat.
bool CommandTurns::EnteredForSeat(int seat) {
  const int reserved = reservedFor_.load();
  if (reserved == kFree) return true;
  if (reserved == seat) {
    reservedFor_.store(kFree);
    return true;
  }
  turn_.Leave();
  return false;
}

// Only the holder of the turn calls this.
void CommandTurns::Hold(int index) {
  Seat& seat = seats_[index];
  seat.heldSinceUs = NowUs();
  holderSinceUs_.store(seat.heldSinceUs);
  servedLevelUs_.store(Used(seat.usedUs), std::memory_order_relaxed);
}

void CommandTurns::Wake(Seat& seat) {
  if (seat.woken) return;
  seat.woken = true;
  seat.wakeup.Post();
}

// A free turn: one waiter on its way to try for it is enough, as with a
// contended lock; the one that has waited longest.
void CommandTurns::WakeOneWaiter() {
  Seat* oldest = nullptr;
  for (Seat& seat : seats_) {
    if (!seat.waiting) continue;
    if (seat.woken) return;
    if (oldest == nullptr || seat.arrival.load() < oldest->arrival.load()) oldest = &seat;
  }
  if (oldest != nullptr) Wake(*oldest);
}

// The least-used seat waiting to enter (and, with queuedToo, under
// queueLock_, in the queue); on a tie the one that began waiting first.
CommandTurns::Seat* CommandTurns::MostDeserving(bool queuedToo) {
  Seat* next = nullptr;
  for (Seat& seat : seats_) {
    if (!seat.entering.load() && !(queuedToo && seat.waiting)) continue;
    if (next == nullptr || Used(seat.usedUs) < Used(next->usedUs) ||
        (Used(seat.usedUs) == Used(next->usedUs) && seat.arrival.load() < next->arrival.load())) {
      next = &seat;
    }
  }
  return next;
}

// Waits in the queue until the turn is handed over or found free; true with
// turn_ entered for the seat, false when the turn must be entered afresh.
bool CommandTurns::WaitInQueue(int index) {
  Seat& seat = seats_[index];
  plat::LockGuard guard(queueLock_);
  RaiseToFloor(seat, LeastWaitingOr(Used(servedLevelUs_)));
  seat.waiting = true;
  seat.arrival.store(nextArrival_.fetch_add(1));
  seat.waitingSinceUs = NowUs();
  // Counted before the turn is tried: a holder releasing meanwhile either
  // sees this waiter and wakes it, or has freed the turn for this try.
  waitingCount_.fetch_add(1);
  bool entered = false;
  for (;;) {
    seat.woken = false;
    const int reserved = reservedFor_.load();
    if (reserved == index) break;  // entered below, once the last holder has left
    if (reserved == kFree && turn_.TryEnter()) {
      if (EnteredForSeat(index)) {
        entered = true;
        break;
      }
    }
    // Posted only under queueLock_ and only while not woken: each post is
    // taken by exactly one Wait, and none is lost.
    queueLock_.Leave();
    seat.wakeup.Wait();
    queueLock_.Enter();
  }
  seat.waiting = false;
  waitingCount_.fetch_sub(1);
  return entered;
}

std::uint64_t CommandTurns::Take(int index) {
  const std::uint64_t started = NowUs();
  Seat& seat = seats_[index];
  RaiseToFloor(seat, Used(servedLevelUs_));
  if (turn_.TryEnter()) {
    if (EnteredForSeat(index)) {
      Hold(index);
      return 0;
    }
  } else if (!LongCommandsAbout(started)) {
    seat.arrival.store(nextArrival_.fetch_add(1));
    seat.entering.store(true);
    enteringCount_.fetch_add(1);
    turn_.Enter();
    enteringCount_.fetch_sub(1);
    seat.entering.store(false);
    if (EnteredForSeat(index)) {
      Hold(index);
      return NowUs() - started;
    }
  }
  for (;;) {
    if (WaitInQueue(index)) break;
    turn_.Enter();
    if (EnteredForSeat(index)) break;
  }
  Hold(index);
  return NowUs() - started;
}

void CommandTurns::Release(int index) {
  Seat& seat = seats_[index];
  const std::uint64_t now = NowUs();
  const std::uint64_t held = now - seat.heldSinceUs;
  seat.usedUs.fetch_add(held > kLeastChargeUs ? held : kLeastChargeUs, std::memory_order_relaxed);
  // Only the holder writes it, so a plain load and store will do.
  const std::uint64_t longest = Used(longestOfLateUs_);
  longestOfLateUs_.store(held > longest ? held : longest - longest / 64, std::memory_order_relaxed);
  const bool wasLong = held >= kLongCommandMs * 1000u;
  if (wasLong) longEndedUs_.store(now);
  holderSinceUs_.store(0);
  if (waitingCount_.load() == 0) {
    // Those waiting to enter came while no long command was about; after
    // one, the least used of them is handed the turn, not whoever enters
    // first (this connection, with its next command, most often).
    if (wasLong && enteringCount_.load() > 0) {
      if (Seat* next = MostDeserving(false)) reservedFor_.store(static_cast<int>(next - seats_));
    }
    turn_.Leave();
    if (waitingCount_.load() == 0) return;
    plat::LockGuard guard(queueLock_);
    WakeOneWaiter();
    return;
  }
  {
    plat::LockGuard guard(queueLock_);
    Seat* next = MostDeserving(true);
    const bool entering = next != nullptr && next->entering.load();
    if (next != nullptr && (wasLong || (!entering && now - next->waitingSinceUs >= kHandOffAfterMs * 1000u))) {
      // A seat entering needs no wake-up: the others step aside until it has entered.
      reservedFor_.store(static_cast<int>(next - seats_));
      if (!entering) Wake(*next);
    } else {
      WakeOneWaiter();
    }
  }
  turn_.Leave();
}

}  // namespace vesk
