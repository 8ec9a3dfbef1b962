// Save when the file system refuses: the old file survives byte for byte, no temporary is left.
#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelxml_test;

namespace {

const char kPrevious[] = "<?xml version=\"1.0\"?>\n<r>previous content, kept byte for byte</r>\n";

// A document of about size bytes once saved.
void MakeDocument(XML::CKelXML& doc, std::size_t size) {
    ASSERT_TRUE(doc.CreateDoc("r"));
    xercesc::DOMNode* root = doc.GetDocument()->getDocumentElement();
    const std::string text(1000, 'x');
    for (std::size_t written = 0; written < size; written += text.size() + 8)
        ASSERT_TRUE(doc.AddChildNodeValue(root, "item", text.c_str()));
}

// The failed Save added one record, of kind 3, naming the target and the system's reason.
void ExpectNewRecord(const XML::CKelXML& doc, std::size_t& count, const std::string& target, const char* reason) {
    const auto records = Records(doc);
    ASSERT_EQ(records.size(), count + 1) << Dump(doc);
    count = records.size();
    EXPECT_EQ(records.back().eType, XML::E_EXCEPTION);
    EXPECT_NE(records.back().strMessage.find("unable to save '" + target + "'"), std::string::npos)
        << records.back().strMessage;
    EXPECT_NE(records.back().strMessage.find(reason), std::string::npos) << records.back().strMessage;
}

bool IsRoot() { return ::geteuid() == 0; }

// Permissions back to normal whatever the test's outcome, so the folder can be removed.
class Mode {
public:
    Mode(std::string path, mode_t mode) : m_path(std::move(path)) {
        struct stat st {};
        ::stat(m_path.c_str(), &st);
        m_old = st.st_mode & 07777;
        ::chmod(m_path.c_str(), mode);
    }
    ~Mode() { ::chmod(m_path.c_str(), m_old); }
    Mode(const Mode&) = delete;
    Mode& operator=(const Mode&) = delete;

private:
    std::string m_path;
    mode_t m_old = 0;
};

// The disk fills up half-way through the write: a child process may only write files of 16 KiB
// (SIGXFSZ ignored, so write fails with EFBIG) and saves 256 KiB, over an existing file and
// to a new name.
TEST(SaveFaults, DiskFullHalfWayKeepsThePreviousFile) {
    TempDir dir;
    const std::string file = dir.File("doc.xml");
    WriteFile(file, kPrevious);
    const std::string result = RunInChild(
        [&]() -> std::string {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{16 << 10, 16 << 10};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "setrlimit failed";
            XML::CKelXML doc;
            MakeDocument(doc, 256 << 10);
            std::string out;
            for (const std::string& target : {file, dir.File("new.xml")}) {
                const bool saved = doc.Save(target.c_str(), false);
                const auto records = Records(doc);
                out += std::string(saved ? "saved" : "failed") + "|" + std::to_string(records.size()) + "|" +
                       (records.empty() ? "" : std::to_string(records.back().eType) + "|" + records.back().strMessage) +
                       "\n";
            }
            return out;
        },
        60);
    const std::string overwrite = "failed|1|3|unable to save '" + file + "': ";
    const std::string fresh = "failed|2|3|unable to save '" + dir.File("new.xml") + "': ";
    EXPECT_EQ(result.rfind(overwrite, 0), 0u) << result;
    EXPECT_NE(result.find("\n" + fresh), std::string::npos) << result;
    EXPECT_NE(result.find(std::strerror(EFBIG)), std::string::npos) << result;
    EXPECT_TRUE(ReadFile(file) == kPrevious) << "the previous file changed";
    EXPECT_EQ(dir.List(), std::vector<std::string>{"doc.xml"});
}

TEST(SaveFaults, MissingDirectory) {
    TempDir dir;
    XML::CKelXML doc;
    MakeDocument(doc, 2000);
    std::size_t count = 0;
    for (const std::string& target : {dir.File("missing/doc.xml"), dir.File("missing/deeper/doc.xml")}) {
        for (const bool canonical : {false, true}) {
            SCOPED_TRACE(target);
            EXPECT_FALSE(doc.Save(target.c_str(), canonical));
            ExpectNewRecord(doc, count, target, std::strerror(ENOENT));
        }
    }
    EXPECT_TRUE(dir.List().empty());
}

// Targets the file system cannot hold as a file: a folder, a path through a file.
TEST(SaveFaults, TargetIsNotAFile) {
    TempDir dir;
    const std::string file = dir.File("doc.xml");
    WriteFile(file, kPrevious);
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0755), 0);
    XML::CKelXML doc;
    MakeDocument(doc, 2000);
    std::size_t count = 0;
    EXPECT_FALSE(doc.Save(dir.File("folder").c_str(), false));
    ExpectNewRecord(doc, count, dir.File("folder"), std::strerror(EISDIR));
    EXPECT_FALSE(doc.Save((file + "/inner.xml").c_str(), false));
    ExpectNewRecord(doc, count, file + "/inner.xml", std::strerror(ENOTDIR));
    EXPECT_TRUE(ReadFile(file) == kPrevious) << "the previous file changed";
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"doc.xml", "folder"}));
}

TEST(SaveFaults, ReadOnlyDirectory) {
    if (IsRoot()) GTEST_SKIP() << "running as root: directory permissions do not apply";
    TempDir dir;
    const std::string file = dir.File("doc.xml");
    WriteFile(file, kPrevious);
    XML::CKelXML doc;
    MakeDocument(doc, 2000);
    {
        Mode readOnly(dir.path(), 0555);
        std::size_t count = 0;
        EXPECT_FALSE(doc.Save(file.c_str(), false));
        ExpectNewRecord(doc, count, file, std::strerror(EACCES));
        EXPECT_FALSE(doc.Save(dir.File("new.xml").c_str(), true));
        ExpectNewRecord(doc, count, dir.File("new.xml"), std::strerror(EACCES));
    }
    EXPECT_TRUE(ReadFile(file) == kPrevious) << "the previous file changed";
    EXPECT_EQ(dir.List(), std::vector<std::string>{"doc.xml"});
}

// The folder would let a rename replace the file; the file's own permission still forbids it.
TEST(SaveFaults, FileWithoutWritePermission) {
    if (IsRoot()) GTEST_SKIP() << "running as root: file permissions do not apply";
    TempDir dir;
    const std::string file = dir.File("doc.xml");
    WriteFile(file, kPrevious);
    XML::CKelXML doc;
    MakeDocument(doc, 2000);
    {
        Mode readOnly(file, 0444);
        std::size_t count = 0;
        EXPECT_FALSE(doc.Save(file.c_str(), false));
        ExpectNewRecord(doc, count, file, std::strerror(EACCES));
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0444u);
    }
    EXPECT_TRUE(ReadFile(file) == kPrevious) << "the previous file changed";
    EXPECT_EQ(dir.List(), std::vector<std::string>{"doc.xml"});
}

}  // namespace
