// Large blocks keep mappings of their own, so that freeing them gives the memory back.
#include "platform/memory_bounds.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace dittix::platform {
namespace {

// Banks of blocks like the training tones (47 blocks of 130…600 KiB, with small allocations in
// between) composed again and again, each before the previous one is freed: the heap must not
// end up holding them. By glibc's default the first freed block raises the threshold, and the
// following banks are carved from the heap, which then keeps about two banks' worth.
TEST(MemoryBounds, RecomposedBanksDoNotSettleInTheHeap) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__GLIBC__)
    GTEST_SKIP() << "the sanitizers' allocators replace glibc's";
#else
    keepLargeBlocksMapped();
    using Bank = std::vector<std::unique_ptr<char[]> >;
    std::size_t bankBytes = 0;
    auto compose = [&bankBytes] {
        Bank bank;
        std::vector<std::unique_ptr<int> > small;
        bankBytes = 0;
        for (std::size_t i = 0; i < 47; ++i) {
            const std::size_t size = (130 + i * 10) * 1024;
            bank.push_back(std::make_unique<char[]>(size));
            std::memset(bank.back().get(), 1, size);
            bankBytes += size;
            small.push_back(std::make_unique<int>(static_cast<int>(i)));
        }
        return bank;
    };
    Bank current = compose();
    for (int round = 0; round < 10; ++round) {
        Bank next = compose();
        current = std::move(next);
    }
    EXPECT_LT(mallinfo2().arena, bankBytes / 4)
        << "heap " << mallinfo2().arena << " bytes for banks of " << bankBytes;
#endif
}

}  // namespace
}  // namespace dittix::platform
