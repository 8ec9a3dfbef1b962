// Every column a benchmark case can have, listed once: its name (the last part of
// "case/column"), what it measures, and whether this build has it. Register refuses any other
// name; main hands the list on to bench/report.py through the results' context.
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
#ifdef KELXML_BENCH_LIBXML2
inline constexpr bool kHaveLibxml2 = true;
#else
inline constexpr bool kHaveLibxml2 = false;
#endif

struct Column {
    const char* name;
    const char* label;
    bool other;  // another XML library, compared with the library
    bool built;
};

inline constexpr Column kColumns[] = {
    {"kel", "Kel_XML", false, true},
    {"kel_fresh", "Kel_XML, a new object per cycle", false, true},
    {"raw", "raw Xerces DOM code", false, true},
    {"raw_ascii", "raw Xerces with the library's ASCII shortcut", false, true},
    {"raw_fresh", "raw Xerces, a new parser per load", false, true},
    {"raw_sax", "raw Xerces SAX2 handler, the load's settings", false, true},
    {"raw_plain", "raw Xerces, serializer straight to the file", false, true},
    {"raw_textcontent", "raw Xerces with getTextContent", false, true},
    {"system", "parser memory from the process-wide manager (before)", false, true},
    {"pool", "parser memory from the object's block pool (after)", false, true},
    {"parent", "walk climbing with getParentNode (before)", false, true},
    {"stack", "walk with its own stack of ancestors (after)", false, true},
    {"stream", "Kel_XML streaming walk (StreamElements)", false, true},
    {"load_loop", "Kel_XML Load + LoopElements", false, true},
    {"unvalidated", "load, no validation", false, true},
    {"well_formed", "load, well-formed reading", false, true},
    {"xsd_named_cached", "validated against a named XSD, cached", false, true},
    {"xsd_by_document", "validated against the XSD the document names", false, true},
    {"dtd_named_cached", "validated against a named DTD, cached", false, true},
    {"dtd_by_document", "validated against the DTD the document names", false, true},
    {"pugixml", "pugixml", true, kHavePugixml},
    {"tinyxml2", "TinyXML-2", true, kHaveTinyxml2},
    {"libxml2", "libxml2", true, kHaveLibxml2},
};

// The column of that name, or null.
inline const Column* FindColumn(const std::string& name) {
    for (const Column& c : kColumns)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace bench

#endif
