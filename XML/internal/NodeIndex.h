// NodeIndex: a walk over the descendants of a document the library owns, recorded once (the nodes
// it gives in document order, each with its kind, and where it goes down and back up) and kept
// while the document is unchanged, so that later walks read an array instead of following
// Xerces' nodes. Only what Xerces' change counter guards is kept: structure and kinds, never
// names or values, which walks read from the node. The owner of a document registers it and
// forgets it before releasing it (an address used again cannot find an old index); documents
// nobody registered have no index. Internal to the library.
#ifndef KELXML_INTERNAL_NODEINDEX_H
#define KELXML_INTERNAL_NODEINDEX_H

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// One snapshot of a document's shape, immutable once published: any number of threads read it.
class NodeIndex {
public:
    struct Entry {
        const xercesc::DOMNode* node;
        std::uint32_t end;  // for an entry the walk goes down into: one past its last descendant
        std::uint8_t kind;  // the DOM node type
        std::uint8_t flags;
    };
    // The walk gives the entry's node (else it only goes through it: an entity reference).
    static constexpr std::uint8_t kGiven = 1;
    // The walk goes down into the entry's children.
    static constexpr std::uint8_t kOpens = 2;

    // What a walk records, in its order; at most cap entries.
    class Recorder {
    public:
        explicit Recorder(NodeIndex& index, std::size_t cap) : m_index(index), m_cap(cap) {}
        // A node given; false (nothing more is recorded) past the cap.
        bool Give(const xercesc::DOMNode* node, int kind);
        // The walk goes down into node's children (node: the last given, or an entity reference).
        void Down(const xercesc::DOMNode* node, int kind);
        // The walk comes back up from the children it went down into last.
        void Up();
        // The walk reached its end: what was recorded is the whole walk unless the cap stopped it.
        void End() { m_complete = !m_stopped; }
        bool Stopped() const { return m_stopped; }
        bool Complete() const { return m_complete; }
        std::size_t Recorded() const;

    private:
        NodeIndex& m_index;
        std::size_t m_cap;
        std::vector<std::uint32_t> m_open;
        bool m_stopped = false;
        bool m_complete = false;
    };

    // The entries in the walk's order.
    const std::vector<Entry>& Entries() const { return m_entries; }
    // The document the walk started from.
    const xercesc::DOMNode* Root() const { return m_root; }
    // The document's change counter when the walk was recorded.
    int Changes() const { return m_changes; }

private:
    friend class IndexBuild;
    std::vector<Entry> m_entries;
    const xercesc::DOMNode* m_root = nullptr;
    int m_changes = 0;
};

// What the registry keeps of one document.
struct IndexSlot;

// The recording of a document's index by one walk: holds the document's build lock until it ends.
class IndexBuild {
public:
    ~IndexBuild();
    IndexBuild(const IndexBuild&) = delete;
    IndexBuild& operator=(const IndexBuild&) = delete;

    NodeIndex::Recorder& Recorder() { return m_recorder; }
    // Publishes what was recorded when the walk was recorded whole, and returns it (else null).
    std::shared_ptr<const NodeIndex> Finish();

    // Called with the slot's build lock held (it moves into the build).
    IndexBuild(std::shared_ptr<IndexSlot> slot, std::unique_lock<std::mutex> lock, const xercesc::DOMDocument* document,
               std::size_t cap);

private:
    std::shared_ptr<IndexSlot> m_slot;
    std::unique_lock<std::mutex> m_lock;
    std::shared_ptr<NodeIndex> m_index;
    NodeIndex::Recorder m_recorder;
};

// What an evaluation may do with a document's index: read it (index), or record it (build).
struct IndexAccess {
    std::shared_ptr<const NodeIndex> index;
    std::unique_ptr<IndexBuild> build;
};

// Walks the descendants of the document into the recorder; false when the recorder stopped it.
using IndexWalk = std::function<bool(const xercesc::DOMNode* document, NodeIndex::Recorder& recorder)>;

// Whether documents are indexed: the owner of a document says so when it takes it (loaded,
// created) and before it lets it go. Neither throws; a document that could not be registered
// (no memory left) is simply walked without an index.
void RegisterDocument(const xercesc::DOMDocument* document) noexcept;
void ForgetDocument(const xercesc::DOMDocument* document) noexcept;

// For a registered document: its index when the one kept is current, else a build to record at
// most maxNodes nodes, unless another thread is building it (no reader waits for another); neither
// for a document nobody registered. The caller owns the build and shares the index.
IndexAccess AccessIndex(const xercesc::DOMDocument* document, std::size_t maxNodes);
// The index of a registered document as it is now: the one kept when the document has not
// changed since, else one recorded now by walk, if it records at most maxNodes nodes (built: how
// many it recorded, 0 when none was built, to be charged to the caller's budget). Null when the
// document is not registered, the walk would pass maxNodes, or another thread is building it (no
// reader waits for another). The caller shares ownership of the snapshot.
std::shared_ptr<const NodeIndex> AcquireIndex(const xercesc::DOMDocument* document, std::size_t maxNodes,
                                              const IndexWalk& walk, std::size_t& built);
// The current index only: null when it must be built.
std::shared_ptr<const NodeIndex> CurrentIndex(const xercesc::DOMDocument* document);

}  // namespace XML::internal

#endif
