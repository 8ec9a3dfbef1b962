// Deterministic benchmark documents: the same seed gives the same bytes on every machine.
#ifndef KELXML_BENCH_GENERATOR_H
#define KELXML_BENCH_GENERATOR_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// splitmix64: tiny, fast and fully specified, unlike the standard distributions whose
// output differs between library implementations.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next();
    // Uniform in [0, bound).
    std::uint32_t Below(std::uint32_t bound);

private:
    std::uint64_t m_state;
};

constexpr std::uint64_t kSeed = 20261206;

// A small service configuration of about 1 KB: typed attributes, text, a comment, a CDATA
// section and non-ASCII text.
std::string MakeConfig(std::uint64_t seed = kSeed);

// A record file of at least targetBytes: <Catalog><Header/><Records><Record .../>...</Records></Catalog>.
// Every Record has id (int), mask (hex), weight (float), active (bool) and code (text)
// attributes, child elements Name, City, Count, Amount, Enabled and a nested Detail; some carry a
// comment or a CDATA Memo. records receives the number of Record elements.
std::string MakeRecords(std::size_t targetBytes, std::size_t& records, std::uint64_t seed = kSeed);

// The same records written straight to DataDir()/name, for files larger than memory (the 2 GB
// case); the file is rewritten on every call.
std::string EnsureRecordsFile(const std::string& name, std::size_t targetBytes, std::size_t& records,
                              std::uint64_t seed = kSeed);

// One element <Wide> with children Item elements (id, mask, weight, active attributes and a
// short text), indented so that whitespace text nodes lie between them, then one <Last>.
std::string MakeWide(std::size_t children, std::uint64_t seed = kSeed);

// The folder the documents are written to: $KELXML_BENCH_DATA, else /tmp/kelxml-bench-<uid>.
std::string DataDir();

// Writes text to DataDir()/name unless a file of that exact size is already there
// (the content is a pure function of the name); returns the path.
std::string EnsureFile(const std::string& name, const std::string& text);

}  // namespace bench

#endif
