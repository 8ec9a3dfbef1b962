// GrammarCache: the grammars a caller names for a load, parsed once into a locked Xerces grammar
// pool together with the stamps of every file they were read from, and the cache
// (CGrammarCache) that keeps such sets for later loads. Internal to the library.
#ifndef KELXML_INTERNAL_GRAMMARCACHE_H
#define KELXML_INTERNAL_GRAMMARCACHE_H

#include "XML/CError.h"

#include <xercesc/framework/XMLGrammarPool.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace XML {
struct sLoadOptions;
}

namespace XML::internal {

// The identity and last change of one file, as stat(2) gives them; a missing file stamps as such.
struct FileStamp {
    std::string path;
    bool exists = false;
    unsigned long long device = 0, inode = 0, size = 0;
    long long modifiedSeconds = 0, changedSeconds = 0;
    long modifiedNanoseconds = 0, changedNanoseconds = 0;

    bool operator==(const FileStamp& other) const;
};
FileStamp StampOf(const std::string& path);

// The named grammars of one load, parsed into one pool. Once made it is only read, by any number
// of parsers on any threads (the pool is locked when the parse gave no diagnostic).
class GrammarSet {
public:
    // Parses the schemas and the DTD that options name, refusing network resources. directory:
    // the working folder the cache key spelled relative names from (see GrammarKey).
    static std::shared_ptr<GrammarSet> Parse(const sLoadOptions& options, xercesc::SecurityManager* security,
                                             const std::string& directory);

    GrammarSet();
    ~GrammarSet();
    GrammarSet(const GrammarSet&) = delete;
    GrammarSet& operator=(const GrammarSet&) = delete;

    xercesc::XMLGrammarPool* Pool() const { return m_pPool.get(); }
    // The path the named DTD is held under (the DOCTYPE's external subset stands for it), or empty.
    const std::string& DTDPath() const { return m_dtdPath; }
    // The named DTD's bytes, read once when the set was parsed: every load reads these.
    const std::string& DTDBytes() const { return m_dtdBytes; }
    // What parsing the grammars reported, in order, naming the grammar files.
    const std::vector<sError>& Diagnostics() const { return m_diagnostics; }
    // True while every file the grammars were read from is as it was stamped.
    bool Unchanged() const;
    // What one word of a value may cost against the dearest enumeration of the grammars.
    std::size_t DearestEnumeration() const { return m_dearestEnumeration; }

private:
    // The pool's and its parser's memory: listed first, so it outlives the pool.
    std::unique_ptr<xercesc::MemoryManager> m_pMemory;
    std::unique_ptr<xercesc::XMLGrammarPool> m_pPool;
    std::string m_dtdPath;
    std::string m_dtdBytes;
    std::vector<sError> m_diagnostics;
    std::vector<FileStamp> m_files;
    std::size_t m_dearestEnumeration = 0;
};

// The cache key of the grammars options name: the absolute name of each file, with the
// namespace named for each schema; directory = the working folder relative names were spelled
// from (empty when every name is absolute).
std::string GrammarKey(const sLoadOptions& options, std::string& directory);

}  // namespace XML::internal

#endif
