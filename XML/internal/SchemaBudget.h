// SchemaBudget: judges every schema document a load reads, before the validator builds its
// grammar. The validator unrolls occurrence bounds into copies of a particle and compiles
// an automaton over them (hours and gigabytes from a 600-byte schema), recurses once per
// derivation step and per nesting level, and its regular-expression matcher recurses without
// end on a repetition of a part that can match nothing ("(a*)*"), and per character on a
// repeated choice; none of that can be stopped once started. Internal to the library.
#ifndef KELXML_SCHEMABUDGET_H
#define KELXML_SCHEMABUDGET_H

#include "XML/Options.h"

#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace XML::internal {

class ResourceGate;

// The longest value the pattern matcher checks without allocating at each level of its
// recursion (longer ones are stopped by PatternGuard).
inline constexpr std::size_t kShortValue = 256;
// The largest schema document read; a longer one is refused.
inline constexpr std::size_t kMaxSchemaFile = std::size_t{64} << 20;

// Why the validator must not compile pattern (a schema regular expression), or empty: it
// repeats a group that can match nothing, nests more than 256 groups, or its matcher could take
// more stack on a value of 256 characters (no allocation there to stop it: PatternGuard) than a
// thread of 256 KiB can spare.
std::string PatternRefusal(const std::string& pattern);

// One per load: what every schema document read so far declares. Each type is judged once, when
// its document is added, and again only when a group or base type it names, missing until then,
// is declared by a later document; each derivation chain is measured as its links arrive.
class SchemaBudget {
public:
    // Schema documents, and the DTDs they name, are read through gate (null: none is read).
    explicit SchemaBudget(const sLimits& limits, ResourceGate* gate = nullptr) : m_limits(limits), m_gate(gate) {}

    // Adds one schema document, its bytes as read, named systemId; returns why the documents
    // read so far must not be compiled, or empty.
    std::string Add(const std::string& bytes, const XMLCh* systemId);

    // The entity resolver's part: for a schema document (include, import and redefine too),
    // reads it through the gate, judges it, and returns the very bytes judged as a source over
    // the gate's copy. Null for any other resource. A missing file gives a source that fails to
    // open; a refusal throws a SAXException naming it.
    xercesc::InputSource* Read(const xercesc::XMLResourceIdentifier& resource);

    // Bytes of schema documents read, with their DTDs.
    std::size_t BytesRead() const { return m_bytesRead; }

private:
    using Count = std::uint64_t;
    struct Particle {
        enum Kind { Leaf, Group, Ref } kind = Group;
        Count min = 1, max = 1;
        bool unbounded = false;
        std::vector<std::size_t> children;
        std::string ref;  // Ref: the group's local name
    };
    struct Type {
        std::string name;  // empty when anonymous
        std::size_t content = 0;
        std::string base;
        bool extension = false;
    };

    // Judges the types from firstNew on, and those waiting for the names declared.
    std::string Judge(std::size_t firstNew, const std::vector<std::string>& declared);
    // Records that name derives from base and lengthens the chains through name.
    void Derive(const std::string& name, const std::string& base);
    Count Size(std::size_t particle, bool repeated);
    Count GroupSize(const std::string& name, bool repeated);
    Count ContentSize(std::size_t type);

    const sLimits m_limits;
    ResourceGate* const m_gate;
    std::size_t m_bytesRead = 0;
    // Schema documents read without their external DTD, as the parser reads them.
    std::vector<std::unique_ptr<std::string>> m_blanked;
    std::vector<Particle> m_particles;
    std::vector<Type> m_types;
    std::map<std::string, std::size_t> m_groups, m_namedTypes;
    std::map<std::size_t, std::size_t> m_typeByContent;
    // Every named type's base, the types derived from each name, and the derivation steps below
    // each type; the first chain found too long.
    std::map<std::string, std::string> m_bases;
    std::map<std::string, std::vector<std::string>> m_derived;
    std::map<std::string, std::size_t> m_chain;
    std::string m_longChain;
    // Sizes that named no missing group or base (they never change), those being computed (a
    // cycle counts 0), the missing names met while judging one type ("g:" group, "t:" type), and
    // the types waiting for each of them.
    std::map<std::pair<std::string, bool>, Count> m_groupSizes;
    std::map<std::size_t, Count> m_contentSizes;
    std::set<std::pair<std::string, bool>> m_groupsOpen;
    std::set<std::size_t> m_contentsOpen;
    std::vector<std::string> m_missing;
    std::map<std::string, std::set<std::size_t>> m_waiting;
    // The schema documents judged in this load (each once however often it is asked for), with
    // the bytes the parser gets of each.
    std::map<const void*, const std::string*> m_judged;
};

}  // namespace XML::internal

#endif
