// The parser's memory manager: which blocks it keeps, its bounds, blocks crossing to and from
// the process-wide manager, and loads through it reading the same as before.
#include "TestSupport.h"

#include "XML/internal/BlockPool.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <cstring>
#include <string>
#include <vector>

using namespace XML::internal;
using xercesc::XMLPlatformUtils;

namespace {

constexpr std::size_t kBlock = 64 * 1024;

std::string Records(int count) {
    std::string text = "<list>";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "<r id='" + n + "'>text " + n + "<b/>tail</r>";
    }
    return text + "</list>";
}

}  // namespace

TEST(BlockPool, KeepsLargeFreedBlocksForLikeRequestsOnly) {
    BlockPool pool;
    void* small = pool.allocate(100);
    pool.deallocate(small);
    EXPECT_EQ(pool.KeptBlocks(), 0u);  // small ones go straight back

    void* large = pool.allocate(kBlock);
    std::memset(large, 1, kBlock);
    pool.deallocate(large);
    EXPECT_EQ(pool.KeptBlocks(), 1u);
    EXPECT_GE(pool.KeptBytes(), kBlock);

    void* tooSmall = pool.allocate(kBlock / 2);  // would waste half the kept block
    EXPECT_NE(tooSmall, large);
    void* tooLarge = pool.allocate(kBlock + 4096);
    EXPECT_NE(tooLarge, large);
    void* again = pool.allocate(kBlock - 100);
    EXPECT_EQ(again, large);
    EXPECT_EQ(pool.KeptBlocks(), 0u);
    EXPECT_EQ(pool.KeptBytes(), 0u);
    std::memset(again, 2, kBlock - 100);
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
    EXPECT_LE(pool.KeptBlocks(), BlockPool::kMaxKeptBlocks);
}

// Xerces frees some objects through another manager than the one that allocated them: under
// the sanitizers a header or a mismatched allocator would show here.
TEST(BlockPool, BlocksCrossToAndFromTheProcessWideManager) {
    xercesc::MemoryManager* const system = XMLPlatformUtils::fgMemoryManager;
    for (const std::size_t size : {std::size_t{100}, kBlock}) {
        BlockPool pool;
        void* fromSystem = system->allocate(size);
        pool.deallocate(fromSystem);
        void* fromPool = pool.allocate(size);
        system->deallocate(fromPool);
        void* next = pool.allocate(size);
        std::memset(next, 3, size);
        pool.deallocate(next);
    }
    EXPECT_EQ(BlockPool().getExceptionMemoryManager(), system->getExceptionMemoryManager());
}

// Loads of large and small documents, in turns, with and without validation and with a parse
// cut short, read the same through one object as through fresh ones.
TEST(BlockPool, RepeatedLoadsReadAsFreshOnes) {
    const std::string large = Records(5000), small = Records(3);
    const std::string schema =
        "<!DOCTYPE list [<!ELEMENT list (r*)><!ELEMENT r (#PCDATA|b)*><!ELEMENT b EMPTY>"
        "<!ATTLIST r id CDATA #REQUIRED>]>" +
        Records(200);
    const auto summary = [](XML::CKelXML& doc) {
        xercesc::DOMNode* root = doc.GetRootNode("list");
        unsigned int count = 0;
        XML::CKelXML::GetNbChildInNode(root, "r", count);
        xercesc::DOMNode* last = root ? root->getLastChild() : nullptr;
        std::string text, id;
        XML::CKelXML::GetValue(last, text);
        XML::CKelXML::GetAttributeValue(last, "id", id);
        return std::to_string(count) + "|" + text + "|" + id;
    };
    XML::CKelXML kept;
    for (int round = 0; round < 2; ++round) {
        for (const std::string* text : {&large, &small, &schema, &large}) {
            XML::CKelXML fresh;
            ASSERT_TRUE(kelxml_test::LoadText(fresh, *text));
            ASSERT_TRUE(kelxml_test::LoadText(kept, *text));
            EXPECT_EQ(summary(kept), summary(fresh));
        }
        EXPECT_FALSE(kelxml_test::LoadText(kept, "<list><r>"));  // a fatal error, then on
    }
}
