// kelxml_bench: every benchmark case in one program. "--child ..." runs one memory
// measurement in a process of its own (see bench_memory.cpp).
#include "BenchSupport.h"
#include "Columns.h"
#include "Others.h"

#include <XML/CKelXML.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

benchmark::internal::Benchmark* Register(const std::string& name, std::function<void(benchmark::State&)> fn) {
    const Column* column = FindColumn(name.substr(name.rfind('/') + 1));
    if (!column || !column->built) {
        std::fprintf(stderr, "kelxml_bench: %s: the column is not in bench/Columns.h or not built\n", name.c_str());
        std::abort();
    }
    return benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& state) { fn(state); })
        ->Unit(benchmark::kMicrosecond);
}

void RegisterRaw(const std::string& caseName, std::function<void(benchmark::State&)> fn) {
    for (bool shortcut : {false, true})
        Register(caseName + (shortcut ? "/raw_ascii" : "/raw"), [fn, shortcut](benchmark::State& state) {
            RawAsciiShortcut() = shortcut;
            fn(state);
            RawAsciiShortcut() = false;
        });
}

}  // namespace bench

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return bench::ChildMain(argc - 2, argv + 2);
    if (!XML::CKelXML::initXmlAPI()) return 1;
#ifdef KELXML_BENCH_LIBXML2
    xmlInitParser();
#endif
    bench::RegisterLoad();
    bench::RegisterRead();
    bench::RegisterScale();
    bench::RegisterEdit();
    bench::RegisterMemory();
    bench::RegisterValidate();
    bench::RegisterSpeedups();
    bench::RegisterXPath();
    // The columns, for bench/report.py: name=label;... with the other libraries marked "other:".
    std::string columns;
    for (const bench::Column& c : bench::kColumns)
        if (c.built) columns += std::string(c.other ? "other:" : "") + c.name + "=" + c.label + ";";
    benchmark::AddCustomContext("columns", columns);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The cached documents of the read cases are left to the process: releasing them after the
    // parser library stopped would touch freed memory.
    std::fflush(nullptr);
    std::_Exit(0);
}
