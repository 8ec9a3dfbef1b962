// NodeIndex: the registry of indexed documents and the recording of a walk.
#include "XML/internal/NodeIndex.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <unordered_map>

namespace XML::internal {

// What the registry keeps of one document: its current snapshot and the lock one build holds.
struct IndexSlot {
    std::mutex building;
    std::shared_ptr<const NodeIndex> current;  // read and replaced through std::atomic_load/store
};

namespace {

using Slot = IndexSlot;

struct Registry {
    std::shared_mutex lock;
    std::unordered_map<const xercesc::DOMDocument*, std::shared_ptr<Slot>> slots;
};

// Made at first use (the library runs nothing when it is loaded) and never destroyed: an object
// destroyed at exit, after this library's statics would be, still forgets its document here.
Registry& TheRegistry() {
    static Registry* const registry = new Registry();
    return *registry;
}

std::shared_ptr<Slot> SlotOf(const xercesc::DOMDocument* document) {
    Registry& registry = TheRegistry();
    const std::shared_lock<std::shared_mutex> lock(registry.lock);
    const auto it = registry.slots.find(document);
    return it == registry.slots.end() ? nullptr : it->second;
}

// Xerces counts every insertion, removal and replacement of a child in a document (setting an
// element's text content, normalising and splitting text included); text and attribute values and
// in-place renames leave it alone, which is why the index keeps none of them.
int ChangesOf(const xercesc::DOMDocument* document) {
    return static_cast<const xercesc::DOMDocumentImpl*>(document)->changes();
}

bool Current(const std::shared_ptr<const NodeIndex>& index, int changes) {
    return index && index->Changes() == changes;
}

}  // namespace

IndexBuild::IndexBuild(std::shared_ptr<IndexSlot> slot, std::unique_lock<std::mutex> lock,
                       const xercesc::DOMDocument* document, std::size_t cap)
    : m_slot(std::move(slot)),
      m_lock(std::move(lock)),
      m_index(std::make_shared<NodeIndex>()),
      m_recorder(*m_index, std::min<std::size_t>(cap, std::numeric_limits<std::uint32_t>::max() - 1)) {
    m_index->m_root = document;
    m_index->m_changes = ChangesOf(document);
}

IndexBuild::~IndexBuild() = default;

std::shared_ptr<const NodeIndex> IndexBuild::Finish() {
    std::shared_ptr<const NodeIndex> done;
    if (m_recorder.Complete()) {
        m_index->m_entries.shrink_to_fit();
        done = m_index;
    }
    // A failed build drops the stale snapshot too: nothing can use it any more.
    std::atomic_store(&m_slot->current, done);
    return done;
}

std::size_t NodeIndex::Recorder::Recorded() const { return m_index.m_entries.size(); }

bool NodeIndex::Recorder::Give(const xercesc::DOMNode* node, int kind) {
    std::vector<Entry>& entries = m_index.m_entries;
    if (entries.size() >= m_cap) {
        m_stopped = true;
        return false;
    }
    try {
        entries.push_back({node, 0, static_cast<std::uint8_t>(kind), kGiven});
    } catch (const std::bad_alloc&) {
        m_stopped = true;  // no memory for the record: the evaluation goes on without it
        return false;
    }
    return true;
}

void NodeIndex::Recorder::Down(const xercesc::DOMNode* node, int kind) {
    std::vector<Entry>& entries = m_index.m_entries;
    // An entity reference is not given: it is recorded where the walk goes through it.
    if (entries.empty() || entries.back().node != node) {
        if (!Give(node, kind)) return;
        entries.back().flags = 0;
    }
    entries.back().flags |= kOpens;
    try {
        m_open.push_back(static_cast<std::uint32_t>(entries.size() - 1));
    } catch (const std::bad_alloc&) {
        m_stopped = true;
    }
}

void NodeIndex::Recorder::Up() {
    m_index.m_entries[m_open.back()].end = static_cast<std::uint32_t>(m_index.m_entries.size());
    m_open.pop_back();
}

void RegisterDocument(const xercesc::DOMDocument* document) noexcept {
    if (!document) return;
    try {
        auto slot = std::make_shared<Slot>();
        Registry& registry = TheRegistry();
        const std::unique_lock<std::shared_mutex> lock(registry.lock);
        registry.slots[document] = std::move(slot);
    } catch (...) {
        // Without memory for its entry the document is walked as any other.
        ForgetDocument(document);
    }
}

void ForgetDocument(const xercesc::DOMDocument* document) noexcept {
    if (!document) return;
    try {
        Registry& registry = TheRegistry();
        const std::unique_lock<std::shared_mutex> lock(registry.lock);
        registry.slots.erase(document);
    } catch (...) {
        // Locking failed: nothing else can be done (the erase itself never throws).
    }
}

std::shared_ptr<const NodeIndex> CurrentIndex(const xercesc::DOMDocument* document) {
    const std::shared_ptr<Slot> slot = SlotOf(document);
    if (!slot) return nullptr;
    std::shared_ptr<const NodeIndex> index = std::atomic_load(&slot->current);
    return Current(index, ChangesOf(document)) ? index : nullptr;
}

IndexAccess AccessIndex(const xercesc::DOMDocument* document, std::size_t maxNodes) {
    IndexAccess access;
    std::shared_ptr<Slot> slot = SlotOf(document);
    if (!slot) return access;
    const int changes = ChangesOf(document);
    access.index = std::atomic_load(&slot->current);
    if (Current(access.index, changes)) return access;
    access.index = nullptr;
    std::unique_lock<std::mutex> lock(slot->building, std::try_to_lock);
    if (!lock.owns_lock()) return access;
    std::shared_ptr<const NodeIndex> built = std::atomic_load(&slot->current);  // ended while this one started
    if (Current(built, changes)) {
        access.index = std::move(built);
        return access;
    }
    access.build = std::make_unique<IndexBuild>(std::move(slot), std::move(lock), document, maxNodes);
    return access;
}

std::shared_ptr<const NodeIndex> AcquireIndex(const xercesc::DOMDocument* document, std::size_t maxNodes,
                                              const IndexWalk& walk, std::size_t& built) {
    built = 0;
    IndexAccess access = AccessIndex(document, maxNodes);
    if (!access.build) return access.index;
    NodeIndex::Recorder& recorder = access.build->Recorder();
    if (walk(document, recorder)) recorder.End();
    built = recorder.Recorded();
    return access.build->Finish();
}

}  // namespace XML::internal
