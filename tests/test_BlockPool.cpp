// The parser's memory manager: which blocks it keeps, its bounds, and blocks crossing to and
// from the process-wide manager. Loads through it are rows of data/load_options.tsv.
#include "TestSupport.h"

#include "XML/internal/BlockPool.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstring>
#include <vector>

using XML::internal::BlockPool;

namespace {

constexpr std::size_t kBlock = 64 * 1024;

TEST(BlockPool, KeepsLargeFreedBlocksForLikeRequestsOnly) {
    BlockPool pool;
    pool.deallocate(pool.allocate(100));
    EXPECT_EQ(pool.KeptBlocks(), 0u);  // small ones go straight back
    void* large = pool.allocate(kBlock);
    std::memset(large, 1, kBlock);
    pool.deallocate(large);
    EXPECT_EQ(pool.KeptBlocks(), 1u);
    void* tooSmall = pool.allocate(kBlock / 2);  // would waste half the kept block
    void* tooLarge = pool.allocate(kBlock + 4096);
    void* again = pool.allocate(kBlock - 100);
    EXPECT_NE(tooSmall, large);
    EXPECT_NE(tooLarge, large);
    EXPECT_EQ(again, large);
    EXPECT_EQ(pool.KeptBytes(), 0u);
    for (void* p : {tooSmall, tooLarge, again}) pool.deallocate(p);
}

TEST(BlockPool, KeepsNoMoreThanItsBound) {
    BlockPool pool;
    const std::size_t size = 1 << 20;
    std::vector<void*> blocks;
    for (std::size_t kept = 0; kept <= BlockPool::kMaxKeptBytes; kept += size) blocks.push_back(pool.allocate(size));
    for (void* p : blocks) pool.deallocate(p);
    EXPECT_LE(pool.KeptBytes(), BlockPool::kMaxKeptBytes);
    EXPECT_GT(pool.KeptBytes(), BlockPool::kMaxKeptBytes - 2 * size);
}

// Xerces frees some objects through another manager than the one that allocated them: under
// the sanitizers a header or a mismatched allocator would show here.
TEST(BlockPool, BlocksCrossToAndFromTheProcessWideManager) {
    xercesc::MemoryManager* const system = xercesc::XMLPlatformUtils::fgMemoryManager;
    for (const std::size_t size : {std::size_t{100}, kBlock}) {
        BlockPool pool;
        pool.deallocate(system->allocate(size));
        system->deallocate(pool.allocate(size));
        void* next = pool.allocate(size);
        std::memset(next, 3, size);
        pool.deallocate(next);
    }
}

}  // namespace
