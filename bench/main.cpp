// kelxml_bench: every benchmark case in one program. "--child case/column" runs one case's
// operation once in a process of its own, for its peak memory (BenchSupport.h, Add).
#include "BenchSupport.h"
#include "Columns.h"

#include <XML/CKelXML.h>

#include <libxml/parser.h>

#include <cstring>

int main(int argc, char** argv) {
    const XML::CXmlLibrary library;
    if (!library.IsStarted()) return 1;
    xmlInitParser();
    bench::RegisterLoad();
    bench::RegisterStream();
    bench::RegisterValidate();
    bench::RegisterEditXPath();
    bench::RegisterThreads();
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return bench::ChildMain(argv[2]);
    // The columns, for bench/report.py: name=label;... with the other libraries marked "other:".
    std::string columns;
    for (const bench::Column& c : bench::kColumns)
        if (c.built) columns += std::string(c.other ? "other:" : "") + c.name + "=" + c.label + ";";
    benchmark::AddCustomContext("columns", columns);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
