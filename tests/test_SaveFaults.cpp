// Save when the file system refuses, or another user has set a trap at the target's name: the old
// file survives byte for byte, no temporary is left, nothing is written through the trap.
#include "TestSupport.h"

#include "XML/internal/Messages.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// Traps another user (nobody) plants at the name root saves to, in a sticky folder everyone may
// write, as /tmp is. A row per trap: the path saved (in the folder), who plants, the reason Save
// refuses with (null: it saves), and what must hold afterwards.
struct Trap {
    const char* name;
    const char* target;
    bool byNobody;
    std::function<bool(const std::string& dir)> plant;
    const char* refusal;
    std::function<void(const std::string& dir)> check;
};

struct stat StatusOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::string Attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("none") : std::string(value, static_cast<std::size_t>(n));
}

// An access control list in the kernel's form: the owner rw, nobody rw, the group nothing, mask rw.
std::string AclGrantingNobody() {
    const auto le16 = [](unsigned v) { return std::string{char(v & 0xff), char(v >> 8)}; };
    const auto entry = [&](unsigned tag, unsigned perm, std::uint32_t id) {
        return le16(tag) + le16(perm) + le16(id & 0xffff) + le16(id >> 16);
    };
    const std::uint32_t none = 0xffffffff;
    return le16(2) + le16(0) + entry(0x01, 6, none) + entry(0x02, 6, 65534) + entry(0x04, 0, none) +
           entry(0x10, 6, none) + entry(0x20, 0, none);
}

const Trap kTraps[] = {
    {"LinkToRootOnlyFile", "doc.xml", true,
     [](const std::string& d) { return ::symlink("secret", (d + "/doc.xml").c_str()) == 0; },
     XML::internal::msg::kForeignLink,
     [](const std::string& d) {
         EXPECT_EQ(ReadFile(d + "/secret"), "secret");
         EXPECT_TRUE(S_ISLNK(StatusOf(d + "/doc.xml").st_mode));
     }},
    {"DanglingLink", "doc.xml", true,
     [](const std::string& d) { return ::symlink("made.xml", (d + "/doc.xml").c_str()) == 0; },
     XML::internal::msg::kForeignLink, [](const std::string& d) { EXPECT_FALSE(FileExists(d + "/made.xml")); }},
    {"LinkedFolderOnTheWay", "sub/doc.xml", true,
     [](const std::string& d) {
         return ::mkdir((d + "/mine").c_str(), 0777) == 0 && ::symlink("mine", (d + "/sub").c_str()) == 0;
     },
     XML::internal::msg::kForeignLink, [](const std::string& d) { EXPECT_FALSE(FileExists(d + "/mine/doc.xml")); }},
    {"Fifo", "doc.xml", true, [](const std::string& d) { return ::mkfifo((d + "/doc.xml").c_str(), 0666) == 0; },
     XML::internal::msg::kNotRegularFile,
     [](const std::string& d) { EXPECT_TRUE(S_ISFIFO(StatusOf(d + "/doc.xml").st_mode)); }},
    {"SetUidFileOfTheAttacker", "doc.xml", true,
     [](const std::string& d) {
         WriteFile(d + "/doc.xml", "mine");
         return ::chmod((d + "/doc.xml").c_str(), 04777) == 0;
     },
     nullptr,
     [](const std::string& d) {
         const struct stat st = StatusOf(d + "/doc.xml");
         EXPECT_EQ(st.st_uid, 0u);
         EXPECT_EQ(st.st_mode & 07777, 0644u);  // a new file of root's, with the saving umask 022
     }},
    {"UsersFileInTheirOwnFolder", "home/doc.xml", true,
     [](const std::string& d) {
         WriteFile((::mkdir((d + "/home").c_str(), 0755), d + "/home/doc.xml"), "mine");
         return ::chmod((d + "/home/doc.xml").c_str(), 06750) == 0;
     },
     nullptr,
     [](const std::string& d) {
         const struct stat st = StatusOf(d + "/home/doc.xml");
         EXPECT_EQ(st.st_uid, 65534u);
         EXPECT_EQ(st.st_mode & 07777, 0750u);  // owner kept, set-id bits not
     }},
    {"FileWithAclAndAttribute", "doc.xml", false,
     [](const std::string& d) {
         const std::string file = d + "/doc.xml", acl = AclGrantingNobody();
         WriteFile(file, "old");
         return ::setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0 &&
                ::setxattr(file.c_str(), "user.note", "kept", 4, 0) == 0;
     },
     nullptr,
     [](const std::string& d) {
         EXPECT_EQ(Attribute(d + "/doc.xml", "system.posix_acl_access"), AclGrantingNobody());
         EXPECT_EQ(Attribute(d + "/doc.xml", "user.note"), "kept");
         EXPECT_EQ(StatusOf(d + "/doc.xml").st_mode & 07777, 0660u);
     }},
};

void PrintTo(const Trap& trap, std::ostream* out) { *out << trap.name; }

struct Traps : testing::TestWithParam<Trap> {};

INSTANTIATE_TEST_SUITE_P(SaveFaults, Traps, testing::ValuesIn(kTraps),
                         [](const testing::TestParamInfo<Trap>& info) { return std::string(info.param.name); });

TEST_P(Traps, InASharedFolder) {
    if (!IsRoot()) GTEST_SKIP() << "needs root, to plant the trap as another user (nobody) and save as root";
    const Trap& trap = GetParam();
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    WriteFile(dir.File("secret"), "secret");
    ASSERT_EQ(::chmod(dir.File("secret").c_str(), 0600), 0);
    const std::string planted = RunInChild(
        [&]() -> std::string {
            if (trap.byNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                return "cannot become nobody";
            return trap.plant(dir.path()) ? "planted" : std::string("cannot plant: ") + std::strerror(errno);
        },
        10);
    if (planted.find("Operation not supported") != std::string::npos) GTEST_SKIP() << planted;
    ASSERT_EQ(planted, "planted");
    const std::string target = dir.File(trap.target);
    const std::string saved = RunInChild(
        [&]() -> std::string {
            ::umask(022);
            XML::CKelXML doc;
            if (!doc.CreateDoc("trap")) return "no document";
            if (doc.Save(target.c_str(), false)) return "saved";
            const auto records = Records(doc);
            return records.size() == 1 && records[0].eType == XML::E_EXCEPTION ? records[0].strMessage : Dump(doc);
        },
        10);
    if (!trap.refusal) {
        EXPECT_EQ(saved, "saved");
        EXPECT_NE(ReadFile(target).find("<trap/>"), std::string::npos);
    } else {
        EXPECT_EQ(saved.rfind("unable to save '" + target + "': refused '", 0), 0u) << saved;
        EXPECT_NE(saved.find(trap.refusal), std::string::npos) << saved;
    }
    trap.check(dir.path());
    EXPECT_EQ(ReadFile(dir.File("secret")), "secret");
}

}  // namespace
