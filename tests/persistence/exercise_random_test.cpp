// The exercise generator: one repeatable sequence per seed, values in 0 .. 2^31 - 1.
#include "persistence/exercise_random.h"

#include <gtest/gtest.h>

namespace dittix::persistence {
namespace {

TEST(ExerciseRandom, SameSeedSameSequenceAndValuesBelowTwoToThe31) {
    ExerciseRandom a(42);
    ExerciseRandom b(42);
    ExerciseRandom c(43);
    int differences = 0;
    std::int32_t highest = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::int32_t x = a.next();
        ASSERT_EQ(x, b.next());
        ASSERT_GE(x, 0);
        differences += x != c.next();
        highest = std::max(highest, x);
    }
    EXPECT_GT(differences, 9900);
    EXPECT_GT(highest, 1 << 30);  // the whole range is used, not just the low bits
}

}  // namespace
}  // namespace dittix::persistence
