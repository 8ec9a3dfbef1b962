// Every column a benchmark case can have, listed once: its name (the last part of
// "case/column"), what it measures, and whether this build has it. Add refuses any other name;
// main hands the list on to bench/report.py through the results' context.
#ifndef KELXML_BENCH_COLUMNS_H
#define KELXML_BENCH_COLUMNS_H

#include <string>

namespace bench {

#ifdef KELXML_BENCH_PUGIXML
inline constexpr bool kHavePugixml = true;
#else
inline constexpr bool kHavePugixml = false;
#endif
#ifdef KELXML_BENCH_TINYXML2
inline constexpr bool kHaveTinyxml2 = true;
#else
inline constexpr bool kHaveTinyxml2 = false;
#endif

struct Column {
    const char* name;
    const char* label;
    bool other;  // another XML library, for context
    bool built;
};

inline constexpr Column kColumns[] = {
    {"kel", "Kel_XML", false, true},
    {"kel_fresh", "Kel_XML, a new object per load", false, true},
    {"kel_load", "Kel_XML Load (a tree)", false, true},
    {"raw", "raw Xerces, the same settings", false, true},
    {"raw_fresh", "raw Xerces, a new parser per load", false, true},
    {"raw_sax", "raw Xerces SAX2 handler, the same settings", false, true},
    // The load's ladder: the raw parser, then each layer the library adds, in order.
    {"raw_nosec", "raw DOM parser without a security manager", false, true},
    {"bounded", "+ the bounded parser", false, true},
    {"pooled", "+ the block pool", false, true},
    {"srcofs", "+ source offsets", false, true},
    {"source", "+ the source-keeping parser, no attribute-order notes", false, true},
    {"notes", "+ attribute-order notes", false, true},
    {"pugixml", "pugixml", true, kHavePugixml},
    {"tinyxml2", "TinyXML-2", true, kHaveTinyxml2},
    {"libxml2", "libxml2 DOM", true, true},
    {"libxml2_reader", "libxml2 xmlTextReader", true, true},
};

inline const Column* FindColumn(const std::string& name) {
    for (const Column& c : kColumns)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace bench

#endif
