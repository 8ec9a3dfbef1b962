// CGrammarCache: grammars parsed once and shared by later loads, by several objects and threads.
#ifndef KELXML_CGRAMMARCACHE_H
#define KELXML_CGRAMMARCACHE_H

#include <XML/KelXMLExport.h>
#include <XML/Options.h>

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <memory>

XERCES_CPP_NAMESPACE_BEGIN
class SecurityManager;
XERCES_CPP_NAMESPACE_END

namespace XML {

namespace internal {
class GrammarSet;
}  // namespace internal

class CKelXML;

// Grammars parsed once: each set of named grammars is parsed at its first use and reused by
// later loads, read-only, as long as none of the files it was read from (includes, imports and
// external parameter entities too) changed identity, size, modification or change time. A set
// whose parse produced any diagnostic is never kept: every load re-reads it and records them
// again.
// One cache may be shared by several objects and threads (every operation locks). Release every
// cache before CKelXML::TerminateXmlAPI.
class KELXML_EXPORT CGrammarCache {
public:
    CGrammarCache();
    ~CGrammarCache();
    CGrammarCache(const CGrammarCache&) = delete;
    CGrammarCache& operator=(const CGrammarCache&) = delete;

    // Number of grammar sets held.
    std::size_t GetGrammarCount() const;
    // Number of times a grammar set was parsed (held or not) since the cache was made.
    std::size_t GetParseCount() const;
    // Drops every set held; loads running on other threads keep the sets they use.
    void Clear();

private:
    friend class CKelXML;
    // The set for these options: the held one when its files are unchanged, else a new parse.
    KELXML_NO_EXPORT std::shared_ptr<const internal::GrammarSet> Acquire(const sLoadOptions& options,
                                                                         xercesc::SecurityManager* security);

    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace XML

#endif
