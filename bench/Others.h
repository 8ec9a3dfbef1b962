// The other XML libraries, compiled in when the build found them.
#ifndef KELXML_BENCH_OTHERS_H
#define KELXML_BENCH_OTHERS_H

#ifdef KELXML_BENCH_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef KELXML_BENCH_TINYXML2
#include <tinyxml2.h>
#endif
#ifdef KELXML_BENCH_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

#include "Columns.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace bench {

// Registers "case/column" with the usual settings; the column is one of bench/Columns.h.
benchmark::internal::Benchmark* Register(const std::string& name, std::function<void(benchmark::State&)> fn);

// Registers caseName/raw (conversions through XMLString::transcode, as hand-written code does)
// and caseName/raw_ascii (the same code with the library's ASCII shortcut).
void RegisterRaw(const std::string& caseName, std::function<void(benchmark::State&)> fn);

void RegisterLoad();
void RegisterRead();
void RegisterScale();
void RegisterEdit();
void RegisterMemory();
void RegisterValidate();
void RegisterSpeedups();
void RegisterXPath();

}  // namespace bench

#endif
