// BlockPool: the memory manager of one document object's parser. The parser's DOM heap takes
// its memory in large blocks and gives them all back when the next load releases the previous
// document; the system allocator returns such blocks to the kernel, and the next load faults
// every page in again. The pool keeps them, bounded, for the next load. Internal to the library.
#ifndef KELXML_INTERNAL_BLOCKPOOL_H
#define KELXML_INTERNAL_BLOCKPOOL_H

#include <xercesc/framework/MemoryManager.hpp>

#include <cstddef>
#include <vector>

namespace XML::internal {

// Allocates through Xerces' process-wide manager and keeps freed blocks of kMinBlock bytes or
// more, up to kMaxKeptBytes and kMaxKeptBlocks, instead of returning them. Small requests pass
// straight through. A block is recognised by the size the system allocator reports for it,
// never by a header of the pool's own: Xerces frees some objects through another manager than
// the one that allocated them, and every block stays an ordinary allocation of that manager.
// With a replaced process-wide manager (whose block sizes cannot be read) it only passes through.
class BlockPool final : public xercesc::MemoryManager {
public:
    static constexpr std::size_t kMinBlock = std::size_t{16} << 10;
    static constexpr std::size_t kMaxKeptBytes = std::size_t{64} << 20;
    static constexpr std::size_t kMaxKeptBlocks = 1024;

    BlockPool();
    ~BlockPool() override;  // gives every kept block back
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // Exceptions may outlive the parser: they take the process-wide manager.
    xercesc::MemoryManager* getExceptionMemoryManager() override;
    void* allocate(XMLSize_t size) override;
    void deallocate(void* p) override;

    std::size_t KeptBytes() const { return m_keptBytes; }
    std::size_t KeptBlocks() const { return m_kept.size(); }

private:
    struct Block {
        void* address;
        std::size_t size;  // usable bytes, as the system allocator reports them
    };
    xercesc::MemoryManager* const m_system;
    const bool m_sized;  // the system manager is Xerces' own, over operator new
    std::vector<Block> m_kept;
    std::size_t m_keptBytes = 0;
};

// A pool as a base class, listed before the parser it serves: built first and destroyed last, so
// the parser's documents, grammars and buffers all go back to it before it goes.
class PooledBase {
protected:
    BlockPool m_pool;
};

}  // namespace XML::internal

#endif
