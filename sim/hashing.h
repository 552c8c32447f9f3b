// Deterministic pseudo-random numbers: everything random in the simulated
// instrument is a hash of the seed and of where it is used, never a stream
// whose state could depend on call order or timing.
#pragma once

#include <cstdint>

namespace vesk::sim {

// The splitmix64 finaliser: a good mix of all 64 bits.
constexpr std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

constexpr std::uint64_t Hash(std::uint64_t seed, std::int64_t a, std::int64_t b = 0, std::int64_t c = 0) {
  return Mix(seed ^ Mix(static_cast<std::uint64_t>(a) ^ Mix(static_cast<std::uint64_t>(b) ^
                                                            Mix(static_cast<std::uint64_t>(c)))));
}

// Uniform in [0, 1).
constexpr double Unit(std::uint64_t hash) { return static_cast<double>(hash >> 11) * 0x1.0p-53; }

}  // namespace vesk::sim
