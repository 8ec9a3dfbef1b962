// Shared pieces of the benchmarks: the documents, the registration of a case (timed in this
// process, and once more in a child process of its own for its peak memory), and the raw
// Xerces parser set up as the library's load sets up its own.
#ifndef KELXML_BENCH_SUPPORT_H
#define KELXML_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bench {

// --- Documents -----------------------------------------------------------------------------
struct Input {
    std::string path;
    std::string text;  // the bytes, for the cases that parse from memory; else empty
    std::size_t records = 0;
    std::uint64_t bytes = 0;
};
// The record file of that many MiB (Generator.h), its bytes read in when inMemory.
const Input& Records(unsigned megabytes, bool inMemory);

// --- Cases -----------------------------------------------------------------------------------
// One operation on the input: false when it failed or got a wrong result.
using Op = std::function<bool()>;
// Makes the operation (what it keeps between calls, such as a parser, is made here, untimed).
using MakeOp = std::function<Op(const Input&)>;
using InputOf = std::function<const Input&()>;

enum Measure { kTime = 1, kMemory = 2, kTimeAndMemory = 3 };
// Registers "name/column" (column: one of Columns.h): CPU time per operation and throughput
// (kTime); and "memory_name/column": the operation run once in a child process of its own,
// with counters peak_kb (peak resident size), cpu_s and mb_per_cpu_s (kMemory).
void Add(const std::string& name, const std::string& column, InputOf input, MakeOp make, Measure measure = kTime);
// Entry of "--child name/column": runs that case's operation once and prints its figures.
int ChildMain(const std::string& name);

// --- Raw Xerces baseline -------------------------------------------------------------------
// A name transcoded to XMLCh once, as hand-written code keeps its constants.
class XName {
public:
    explicit XName(const char* name) : m_name(xercesc::XMLString::transcode(name)) {}
    ~XName() { xercesc::XMLString::release(&m_name); }
    XName(const XName&) = delete;
    XName& operator=(const XName&) = delete;
    operator const XMLCh*() const { return m_name; }

private:
    XMLCh* m_name;
};

// Counts diagnostics, as any error handler must take them.
struct RawErrors : xercesc::HandlerBase {
    void warning(const xercesc::SAXParseException&) override { ++count; }
    void error(const xercesc::SAXParseException&) override { ++count; }
    void fatalError(const xercesc::SAXParseException&) override { ++count; }
    void resetErrors() override { count = 0; }
    int count = 0;
};

// Gives parser the load's settings: automatic validation, namespaces, schema, full schema
// checking, an error handler and (when not null) a security manager.
void LoadSettings(xercesc::XercesDOMParser& parser, xercesc::ErrorHandler& errors, xercesc::SecurityManager* security);
// Releases the previous document (the parser would otherwise keep every one) and parses the
// file, or the text when there is one; false when no document or a diagnostic came out.
bool Parse(xercesc::XercesDOMParser& parser, RawErrors& errors, const Input& in);

// XercesDOMParser with the load's settings.
struct RawParser {
    RawParser() { LoadSettings(*parser, errors, &security); }
    bool Parse(const Input& in) { return bench::Parse(*parser, errors, in); }
    RawErrors errors;
    xercesc::SecurityManager security;
    std::unique_ptr<xercesc::XercesDOMParser> parser = std::make_unique<xercesc::XercesDOMParser>();
};

void RegisterLoad();
void RegisterStream();
void RegisterValidate();
void RegisterEditXPath();
void RegisterThreads();

}  // namespace bench

#endif
