// Two speed-ups of the library measured against what they replaced, in the same run:
// - the parser's memory from a pool of its own that keeps freed DOM blocks for the next load
//   (column pool) or from the process-wide manager, as before (column system);
// - walks that keep their own stack of ancestors (column stack) or climb with getParentNode,
//   as before (column parent): a tag search, the text of a mixed-content tree, the depth check.
#include "BenchSupport.h"
#include "Fixtures.h"
#include "Generator.h"
#include "Others.h"

#include "XML/internal/BlockPool.h"
#include "XML/internal/NameText.h"
#include "XML/internal/TreeWalk.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <functional>
#include <memory>
#include <vector>

#include <unistd.h>

namespace bench {
namespace {

using XML::internal::BoundedDOMParser;
using namespace XML::internal;
using xercesc::DOMNode;

// The library's parser set-up, with the memory manager of the column.
struct Parser {
    explicit Parser(bool pooled)
        : parser(pooled ? std::make_unique<PooledDOMParser>()
                        : std::make_unique<BoundedDOMParser>(nullptr, xercesc::XMLPlatformUtils::fgMemoryManager,
                                                             nullptr)) {
        parser->setDoNamespaces(true);
        parser->setDoSchema(true);
        parser->setValidationSchemaFullChecking(true);
        parser->setSecurityManager(&security);
        parser->setErrorHandler(&errors);
    }
    // From memory, or from the file when the document keeps no text; false without a document.
    bool Parse(const Document& d) {
        parser->resetDocumentPool();  // as every Load does: the previous document goes
        errors.resetErrors();
        if (d.text.empty()) {
            parser->parse(d.path.c_str());
        } else {
            const xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(d.text.data()), d.text.size(),
                                                    "mem", false);
            parser->parse(source);
        }
        return parser->getDocument() != nullptr;
    }
    RawErrors errors;
    xercesc::SecurityManager security;
    std::unique_ptr<BoundedDOMParser> parser;
};

const Document& Records2400K() {
    static const Document doc = [] {
        Document d;
        d.text = MakeRecords(2400u << 10, d.records);
        d.path = EnsureFile("records-2400k.xml", d.text);
        return d;
    }();
    return doc;
}

// Real files of the system, when installed: a 2.4 MB MIME database and a 1 MB code list.
const Document* RealFile(const char* path) {
    static std::vector<std::unique_ptr<Document>> kept;
    if (::access(path, R_OK) != 0) return nullptr;
    kept.push_back(std::make_unique<Document>(Document{path, {}, 0}));
    return kept.back().get();
}

void RegisterLoads() {
    struct Case {
        std::string name;
        std::function<const Document&()> doc;
        bool parserPerLoad;  // a single load: nothing kept from an earlier one
        int iterations;
    };
    std::vector<Case> cases = {{"pool_load_memory_1KB", Config, false, 10000},
                               {"pool_load_memory_1MB", Records1MB, false, 0},
                               {"pool_load_memory_2400KB", Records2400K, false, 0},
                               {"pool_single_load_file_50MB", Records50MB, true, 3}};
    const std::pair<const char*, const char*> real[] = {
        {"pool_load_file_freedesktop_mime_2400KB", "/usr/share/mime/packages/freedesktop.org.xml"},
        {"pool_load_file_iso_639_3_1MB", "/usr/share/xml/iso-codes/iso_639-3.xml"}};
    for (const auto& [name, path] : real) {
        if (const Document* d = RealFile(path))
            cases.push_back({name, [d]() -> const Document& { return *d; }, false, 0});
    }
    for (const Case& c : cases) {
        for (const bool pooled : {false, true}) {
            auto* b = Register(c.name + (pooled ? "/pool" : "/system"),
                               [doc = c.doc, pooled, perLoad = c.parserPerLoad](benchmark::State& state) {
                                   const Document& d = doc();
                                   std::unique_ptr<Parser> parser;
                                   for (auto _ : state) {
                                       if (!parser || perLoad) parser = std::make_unique<Parser>(pooled);
                                       if (!parser->Parse(d)) state.SkipWithError("parse failed");
                                   }
                               });
            if (c.iterations > 0) b->Iterations(c.iterations);
        }
    }
}

// The walks as they were: every step up through getParentNode (as NextBelow still climbs).
std::size_t CountTagsByParent(const DOMNode* root, const char* name) {
    const TagMatcher matches(name);
    std::size_t count = 0;
    for (const DOMNode* node = root->getFirstChild(); node; node = NextBelow(node, root))
        count += matches(node) ? 1 : 0;
    return count;
}

std::size_t CountTagsByStack(const DOMNode* root, const char* name) {
    std::size_t count = 0;
    ForEachTagBelow(root, name, [&count](const DOMNode*) { return ++count, true; });
    return count;
}

std::size_t TextByParent(const DOMNode* root, XString& scratch) {
    scratch.clear();
    for (const DOMNode* n = root->getFirstChild(); n;) {
        const auto type = n->getNodeType();
        if (type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE) scratch += n->getNodeValue();
        n = NextBelow(n, root, type != DOMNode::COMMENT_NODE && type != DOMNode::PROCESSING_INSTRUCTION_NODE);
    }
    return scratch.size();
}

std::size_t TextByStack(const DOMNode* root, XString& scratch) {
    return xercesc::XMLString::stringLen(Text16(root, scratch));
}

bool DeeperThanByParent(const DOMNode* top, std::size_t limit) {
    const auto isElement = [](const DOMNode* n) { return n->getNodeType() == DOMNode::ELEMENT_NODE; };
    std::size_t depth = 0;
    const DOMNode* node = top;
    for (;;) {
        if (isElement(node) && ++depth > limit) return true;
        if (const DOMNode* child = node->getFirstChild()) {
            node = child;
            continue;
        }
        for (;;) {
            if (node == top) return false;
            if (isElement(node)) --depth;
            if (const DOMNode* sibling = node->getNextSibling()) {
                node = sibling;
                break;
            }
            node = node->getParentNode();
        }
    }
}

void RegisterWalks() {
    const auto root = [] { return static_cast<const DOMNode*>(RawRecordsDoc().root); };
    Register("walk_tag_search_1MB/parent", [root](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(CountTagsByParent(root(), "Amount"));
    });
    Register("walk_tag_search_1MB/stack", [root](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(CountTagsByStack(root(), "Amount"));
    });
    Register("walk_text_1MB/parent", [root](benchmark::State& state) {
        XString scratch;
        for (auto _ : state) benchmark::DoNotOptimize(TextByParent(root(), scratch));
    });
    Register("walk_text_1MB/stack", [root](benchmark::State& state) {
        XString scratch;
        for (auto _ : state) benchmark::DoNotOptimize(TextByStack(root(), scratch));
    });
    Register("walk_depth_check_1MB/parent", [root](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(DeeperThanByParent(root(), BoundedDOMParser::kMaxDepth));
    });
    Register("walk_depth_check_1MB/stack", [root](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(DeeperThan(root(), BoundedDOMParser::kMaxDepth));
    });
}

}  // namespace

void RegisterSpeedups() {
    RegisterLoads();
    RegisterWalks();
}

}  // namespace bench
