#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace kelxml_test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kelxml-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::List() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool FileExists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::vector<XML::sError> Records(const XML::CKelXML& doc) {
    return doc.GetErrors() ? doc.GetErrors()->GetAllErrors() : std::vector<XML::sError>{};
}

bool LoadText(XML::CKelXML& doc, const std::string& text) {
    return doc.Load(static_cast<const void*>(text.data()), static_cast<unsigned int>(text.size()));
}

std::string SharedDir() {
    const fs::path dir(KELXML_SHARED_DIR);
    return fs::exists(dir / "corpus") ? fs::canonical(dir).string() : std::string();
}

} // namespace kelxml_test

namespace {
// The parser library is started once for the whole test program, as a host would.
class XmlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(XML::CKelXML::initXmlAPI()); }
    void TearDown() override { XML::CKelXML::TerminateXmlAPI(); }
};
} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XmlEnvironment);
    return RUN_ALL_TESTS();
}
