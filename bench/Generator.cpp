#include "Generator.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace bench {

std::uint32_t Random::Below(std::uint32_t bound) {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) % bound);
}

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

std::string MakeDir() {
    const std::string dir = DataDir();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw std::runtime_error("cannot create " + dir);
    return dir;
}

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

std::string MakeConfig(std::uint64_t seed) {
    Random rnd(seed);
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- gateway service configuration -->\n";
    s += "<Config version=\"3\">\n";
    s += "  <Service name=\"gateway\" host=\"10.0.0." + std::to_string(1 + rnd.Below(250)) + "\" port=\"" +
         std::to_string(1024 + rnd.Below(60000)) + "\" timeout=\"" + Decimal(rnd.Below(1000)) +
         "\" secure=\"true\"/>\n";
    s += "  <Name>Gateway Nord – Köln</Name>\n";
    s += "  <Port>" + std::to_string(1024 + rnd.Below(60000)) + "</Port>\n";
    s += "  <Enabled>true</Enabled>\n";
    s += "  <Limits connections=\"" + std::to_string(rnd.Below(4096)) + "\" mask=\"" + Hex(rnd.Below(65536)) +
         "\" strict=\"false\"/>\n";
    s += "  <Banner><![CDATA[Welcome <user> & \"friends\"]]></Banner>\n  <Paths>\n";
    for (int i = 1; s.size() < 980; ++i)
        s += "    <Path id=\"" + std::to_string(i) + "\">/var/lib/gateway/" + std::to_string(rnd.Below(100000)) +
             "</Path>\n";
    return s + "  </Paths>\n</Config>\n";
}

std::string EnsureRecords(const std::string& name, std::uint64_t targetBytes, std::size_t& records) {
    const std::string path = MakeDir() + "/" + name;
    // The record count beside the file, written after it: both present means the file is whole.
    std::ifstream counted(path + ".records");
    if (counted >> records && ::access(path.c_str(), R_OK) == 0) return path;
    const std::string tail = "  </Records>\n</Catalog>\n";
    std::string chunk = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- benchmark records -->\n<Catalog>\n";
    chunk += "  <Header>\n    <Title>Records – Übersicht</Title>\n";
    chunk += "    <Notes><![CDATA[Raw <markup> & \"quotes\" stay as they are]]></Notes>\n  </Header>\n  <Records>\n";
    Random rnd(kSeed);
    std::uint64_t written = 0;
    records = 0;
    std::remove((path + ".records").c_str());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    while (written + chunk.size() + tail.size() < targetBytes) {
        AppendRecord(chunk, ++records, rnd);
        if (chunk.size() < (1u << 20)) continue;
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        written += chunk.size();
        chunk.clear();
    }
    chunk += tail;
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    out.close();
    if (!out || !(std::ofstream(path + ".records") << records)) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string DataDir() {
    if (const char* dir = std::getenv("KELXML_BENCH_DATA"); dir && *dir) return dir;
    return "/tmp/kelxml-bench-" + std::to_string(::getuid());
}

std::string EnsureFile(const std::string& name, const std::string& text) {
    const std::string path = MakeDir() + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) == text.size()) return path;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(text.data(), static_cast<std::streamsize>(text.size())))
        throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace bench
