#include "XML/internal/BlockPool.h"

#include "XML/internal/PatternGuard.h"

#include <xercesc/internal/MemoryManagerImpl.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <malloc.h>

#include <typeinfo>

using namespace xercesc;

namespace XML::internal {

namespace {

// True when blocks of manager come from operator new, whose usable size malloc reports.
bool SizesReadable(const MemoryManager* manager) { return manager && typeid(*manager) == typeid(MemoryManagerImpl); }

}  // namespace

BlockPool::BlockPool() : m_system(XMLPlatformUtils::fgMemoryManager), m_sized(SizesReadable(m_system)) {
    if (m_sized) m_kept.reserve(kMaxKeptBlocks);  // deallocate never allocates
}

BlockPool::~BlockPool() {
    for (const Block& block : m_kept) m_system->deallocate(block.address);
}

MemoryManager* BlockPool::getExceptionMemoryManager() { return m_system->getExceptionMemoryManager(); }

void* BlockPool::allocate(XMLSize_t size) {
    // The pattern matcher allocates at each level of its recursion: stopped here, not by the stack's end.
    GuardStack();
    if (size >= kMinBlock && !m_kept.empty()) {
        // The smallest kept block that fits, wasting at most a quarter of the request.
        const std::size_t most = size + size / 4;
        std::size_t best = m_kept.size();
        for (std::size_t i = 0; i < m_kept.size(); ++i) {
            const std::size_t s = m_kept[i].size;
            if (s >= size && s <= most && (best == m_kept.size() || s < m_kept[best].size)) best = i;
        }
        if (best != m_kept.size()) {
            void* const address = m_kept[best].address;
            m_keptBytes -= m_kept[best].size;
            m_kept[best] = m_kept.back();
            m_kept.pop_back();
            return address;
        }
    }
    return m_system->allocate(size);
}

void BlockPool::deallocate(void* p) {
    if (!p) return;
    if (m_sized) {
        const std::size_t size = malloc_usable_size(p);
        if (size >= kMinBlock && m_kept.size() < kMaxKeptBlocks && m_keptBytes + size <= kMaxKeptBytes) {
            m_kept.push_back({p, size});
            m_keptBytes += size;
            return;
        }
    }
    m_system->deallocate(p);
}

}  // namespace XML::internal
