#include "Generator.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace bench {

std::uint64_t Random::Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint32_t Random::Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

namespace {

const char* const kNames[] = {"Zoë Müller", "Ångström Lab", "Łucja Nowak", "Søren Kierk", "Ελένη Παπά",
                              "東京 支店",  "José Núñez",   "Ada Lovel",   "Grace Hopp",  "Émile Zola"};
const char* const kCities[] = {"Köln", "Zürich", "Malmö", "Kraków", "São Paulo", "Reykjavík", "Paris", "Oslo"};

std::string Hex(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", value);
    return buf;
}

// Two decimals, formatted from integers so that no locale or libc float printing is involved.
std::string Decimal(std::uint32_t hundredths) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%02u", hundredths / 100, hundredths % 100);
    return buf;
}

}  // namespace

std::string MakeConfig(std::uint64_t seed) {
    Random rnd(seed);
    std::string s;
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<!-- gateway service configuration -->\n";
    s += "<Config version=\"3\">\n";
    s += "  <Service name=\"gateway\" host=\"10.0.0." + std::to_string(1 + rnd.Below(250)) + "\" port=\"" +
         std::to_string(1024 + rnd.Below(60000)) + "\" timeout=\"" + Decimal(rnd.Below(1000)) +
         "\" secure=\"true\"/>\n";
    s += "  <Name>Gateway Nord – Köln</Name>\n";
    s += "  <Port>" + std::to_string(1024 + rnd.Below(60000)) + "</Port>\n";
    s += "  <Ratio>" + Decimal(rnd.Below(100)) + "</Ratio>\n";
    s += "  <Enabled>true</Enabled>\n";
    s += "  <Limits connections=\"" + std::to_string(rnd.Below(4096)) + "\" mask=\"" + Hex(rnd.Below(65536)) +
         "\" burst=\"" + Decimal(rnd.Below(1000)) + "\" strict=\"false\"/>\n";
    s += "  <Banner><![CDATA[Welcome <user> & \"friends\"]]></Banner>\n";
    s += "  <Paths>\n";
    for (int i = 1; s.size() < 980; ++i)
        s += "    <Path id=\"" + std::to_string(i) + "\">/var/lib/gateway/" + std::to_string(rnd.Below(100000)) +
             "</Path>\n";
    s += "  </Paths>\n</Config>\n";
    return s;
}

namespace {

std::string RecordsHead(std::uint64_t seed) {
    std::string s;
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<!-- benchmark records, seed " + std::to_string(seed) + " -->\n";
    s += "<Catalog seed=\"" + std::to_string(seed) + "\">\n";
    s += "  <Header>\n    <Title>Records – Übersicht</Title>\n";
    s += "    <Notes><![CDATA[Raw <markup> & \"quotes\" stay as they are]]></Notes>\n  </Header>\n";
    s += "  <Records>\n";
    return s;
}

const std::string kRecordsTail = "  </Records>\n</Catalog>\n";

void AppendRecord(std::string& s, std::size_t id, Random& rnd) {
    s += "    <Record id=\"" + std::to_string(id) + "\" mask=\"" + Hex(rnd.Below(1u << 24)) + "\" weight=\"" +
         Decimal(rnd.Below(100000)) + "\" active=\"" + (rnd.Below(2) ? "true" : "false") + "\" code=\"R-" +
         std::to_string(100000 + id) + "\">\n";
    s += "      <Name>" + std::string(kNames[rnd.Below(10)]) + " " + std::to_string(id) + "</Name>\n";
    s += "      <City>" + std::string(kCities[rnd.Below(8)]) + "</City>\n";
    s += "      <Count>" + std::to_string(rnd.Below(1000)) + "</Count>\n";
    s += "      <Amount>" + Decimal(rnd.Below(1000000)) + "</Amount>\n";
    s += "      <Enabled>" + std::to_string(rnd.Below(2)) + "</Enabled>\n";
    s += "      <Detail kind=\"" + std::string(1, static_cast<char>('a' + rnd.Below(4))) + "\"><Label>L" +
         std::to_string(rnd.Below(100)) + "</Label><Value>" + std::to_string(rnd.Below(1000000)) +
         "</Value></Detail>\n";
    if (id % 4 == 0) s += "      <!-- reviewed " + std::to_string(rnd.Below(28) + 1) + " -->\n";
    if (id % 8 == 0) s += "      <Memo><![CDATA[a < b && c > d]]></Memo>\n";
    s += "    </Record>\n";
}

}  // namespace

std::string MakeRecords(std::size_t targetBytes, std::size_t& records, std::uint64_t seed) {
    Random rnd(seed);
    std::string s = RecordsHead(seed);
    s.reserve(targetBytes + 4096);
    records = 0;
    while (s.size() + kRecordsTail.size() < targetBytes) AppendRecord(s, ++records, rnd);
    return s + kRecordsTail;
}

std::string EnsureRecordsFile(const std::string& name, std::size_t targetBytes, std::size_t& records,
                              std::uint64_t seed) {
    const std::string dir = DataDir();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw std::runtime_error("cannot create " + dir);
    const std::string path = dir + "/" + name;
    const std::string temp = path + ".part";
    Random rnd(seed);
    std::string chunk = RecordsHead(seed);
    std::size_t written = 0;
    records = 0;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        while (written + chunk.size() + kRecordsTail.size() < targetBytes) {
            AppendRecord(chunk, ++records, rnd);
            if (chunk.size() >= (1u << 20)) {
                out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
                written += chunk.size();
                chunk.clear();
            }
        }
        chunk += kRecordsTail;
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (!out) throw std::runtime_error("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename " + temp);
    return path;
}

std::string MakeWide(std::size_t children, std::uint64_t seed) {
    Random rnd(seed ^ children);
    std::string s;
    s.reserve(children * 80 + 256);
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Wide count=\"" + std::to_string(children) + "\">\n";
    for (std::size_t i = 0; i < children; ++i) {
        s += "  <Item id=\"" + std::to_string(i) + "\" mask=\"" + Hex(rnd.Below(65536)) + "\" weight=\"" +
             Decimal(rnd.Below(10000)) + "\" active=\"" + (rnd.Below(2) ? "true" : "false") + "\">v" +
             std::to_string(rnd.Below(1000)) + "</Item>\n";
    }
    s += "  <Last>end</Last>\n</Wide>\n";
    return s;
}

std::string DataDir() {
    if (const char* dir = std::getenv("KELXML_BENCH_DATA"); dir && *dir) return dir;
    return "/tmp/kelxml-bench-" + std::to_string(::getuid());
}

std::string EnsureFile(const std::string& name, const std::string& text) {
    const std::string dir = DataDir();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw std::runtime_error("cannot create " + dir);
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) == text.size()) return path;
    // Written beside and renamed, so an interrupted run never leaves a short file behind.
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) throw std::runtime_error("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename " + temp);
    return path;
}

}  // namespace bench
