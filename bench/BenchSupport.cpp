#include "BenchSupport.h"

#include "Columns.h"
#include "Generator.h"

#include <xercesc/framework/MemBufInputSource.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace xercesc;

namespace bench {

const Input& Records(unsigned megabytes, bool inMemory) {
    static std::map<std::pair<unsigned, bool>, Input> inputs;
    Input& in = inputs[{megabytes, inMemory}];
    if (in.path.empty()) {
        in.path = EnsureRecords("records-" + std::to_string(megabytes) + "m.xml", std::uint64_t{megabytes} << 20,
                                in.records);
        std::ifstream file(in.path, std::ios::binary);
        if (inMemory) in.text.assign(std::istreambuf_iterator<char>(file), {});
        in.bytes = inMemory ? in.text.size() : static_cast<std::uint64_t>(file.seekg(0, std::ios::end).tellg());
    }
    return in;
}

namespace {

std::map<std::string, std::pair<InputOf, MakeOp>>& Cases() {
    static std::map<std::string, std::pair<InputOf, MakeOp>> cases;
    return cases;
}

long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(key), key) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs this program again as "--child name" and returns the "key value" lines it prints.
std::map<std::string, double> RunChild(const std::string& name) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execl("/proc/self/exe", "kelxml_bench", "--child", name.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("child failed: " + name + "\n" + out);
    std::map<std::string, double> values;
    std::istringstream lines(out);
    std::string key;
    for (double value; lines >> key >> value;) values[key] = value;
    return values;
}

}  // namespace

void Add(const std::string& name, const std::string& column, InputOf input, MakeOp make, Measure measure) {
    const Column* c = FindColumn(column);
    if (!c || !c->built) throw std::logic_error(name + ": column " + column + " is not in Columns.h or not built");
    const std::string full = name + "/" + column;
    Cases()[full] = {input, make};
    if (measure & kTime)
        benchmark::RegisterBenchmark(full.c_str(), [input, make](benchmark::State& state) {
            const Input& in = input();
            const Op op = make(in);
            for (auto _ : state)
                if (!op()) {
                    state.SkipWithError("the operation failed or gave a wrong result");
                    break;
                }
            state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.bytes));
        })->Unit(benchmark::kMillisecond);
    if (measure & kMemory)
        benchmark::RegisterBenchmark(("memory_" + full).c_str(),
                                     [input, full](benchmark::State& state) {
                                         input();  // the file is made before the child starts
                                         std::map<std::string, double> values;
                                         for (auto _ : state) {
                                             try {
                                                 values = RunChild(full);
                                             } catch (const std::exception& e) {
                                                 state.SkipWithError(e.what());
                                                 return;
                                             }
                                             state.SetIterationTime(values["cpu_s"]);
                                         }
                                         for (const auto& [key, value] : values) state.counters[key] = value;
                                     })
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(1)
            ->Unit(benchmark::kMillisecond);
}

int ChildMain(const std::string& name) {
    const auto found = Cases().find(name);
    if (found == Cases().end()) return 2;
    const Input& in = found->second.first();
    const long baseline = StatusKb("VmRSS:");
    bool ok = false;
    double cpu = 0;
    {
        const Op op = found->second.second(in);
        const double start = CpuSeconds();
        ok = op();
        cpu = CpuSeconds() - start;
    }
    std::printf("cpu_s %.6f\npeak_kb %ld\nbaseline_kb %ld\nmb_per_cpu_s %.3f\n", cpu, StatusKb("VmHWM:"), baseline,
                static_cast<double>(in.bytes) / 1e6 / cpu);
    return ok ? 0 : 1;
}

void LoadSettings(XercesDOMParser& parser, ErrorHandler& errors, SecurityManager* security) {
    parser.setValidationScheme(AbstractDOMParser::Val_Auto);
    parser.setDoNamespaces(true);
    parser.setDoSchema(true);
    parser.setValidationSchemaFullChecking(true);
    parser.setErrorHandler(&errors);
    if (security) parser.setSecurityManager(security);
}

bool Parse(XercesDOMParser& parser, RawErrors& errors, const Input& in) {
    parser.resetDocumentPool();
    errors.resetErrors();
    if (in.text.empty()) {
        parser.parse(in.path.c_str());
    } else {
        const MemBufInputSource source(reinterpret_cast<const XMLByte*>(in.text.data()), in.text.size(), "mem", false);
        parser.parse(source);
    }
    return parser.getDocument() && errors.count == 0;
}

}  // namespace bench
