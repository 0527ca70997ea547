// The exercise's pseudo-random generator: seeded once at start-up from the current time in
// seconds; every exercise continues the one sequence.
#pragma once

#include <cstdint>
#include <ctime>
#include <random>

namespace dittix::persistence {

class ExerciseRandom {
  public:
    explicit ExerciseRandom(std::uint32_t seed = 1) : m_engine(seed) {}

    static ExerciseRandom seededFromClock() {
        return ExerciseRandom(static_cast<std::uint32_t>(std::time(nullptr)));
    }

    // A non-negative integer below 2^31.
    std::int32_t next() { return static_cast<std::int32_t>(m_engine() >> 1); }

  private:
    std::mt19937 m_engine;
};

}  // namespace dittix::persistence
