// Deterministic benchmark documents: the same seed gives the same bytes on every machine.
#ifndef KELXML_BENCH_GENERATOR_H
#define KELXML_BENCH_GENERATOR_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// splitmix64: tiny and fully specified, unlike the standard distributions whose output differs
// between library implementations.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint32_t Below(std::uint32_t bound);

private:
    std::uint64_t m_state;
};

constexpr std::uint64_t kSeed = 20261206;

// A service configuration of about 1 KB: typed attributes, text, a comment, a CDATA section and
// non-ASCII text; valid against kConfigSchema (bench_validate.cpp) for every seed.
std::string MakeConfig(std::uint64_t seed);

// DataDir()/name: a record file of at least targetBytes, written in chunks (so that a file larger
// than memory can be made) unless it is already there:
// <Catalog><Header/><Records><Record .../>...</Records></Catalog>. Every Record has id (int),
// mask (hex), weight (float), active (bool) and code attributes, in that (unsorted) order, child
// elements Name, City, Count, Amount, Enabled and a nested Detail; some carry a comment or a CDATA
// Memo. records receives the number of Record elements.
std::string EnsureRecords(const std::string& name, std::uint64_t targetBytes, std::size_t& records);

// The folder the documents are written to: $KELXML_BENCH_DATA, else /tmp/kelxml-bench-<uid>.
std::string DataDir();
// Writes text to DataDir()/name unless a file of that size is there; returns the path.
std::string EnsureFile(const std::string& name, const std::string& text);

}  // namespace bench

#endif
