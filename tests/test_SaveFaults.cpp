// Save when the file system refuses, or another user has set a trap at the target's name: the old
// file survives byte for byte, no temporary is left, nothing is written through the trap. The
// cases are the rows of tests/data/save-faults.tsv.
#include "CorpusSupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace kelxml_test;

namespace {

// The owner rw, nobody rw, the group nothing, mask rw, in the kernel's form.
const std::string kAcl(
    "\x02\0\0\0\x01\0\x06\0\xff\xff\xff\xff\x02\0\x06\0\xfe\xff\0\0\x04\0\0\0\xff\xff\xff\xff"
    "\x10\0\x06\0\xff\xff\xff\xff\x20\0\0\0\xff\xff\xff\xff",
    44);
const char* const kAclName = "system.posix_acl_access";

std::string Attribute(const std::string& path, const std::string& name) {
    char value[256];
    const ssize_t n = ::getxattr(path.c_str(), name.c_str(), value, sizeof value);
    return n < 0 ? std::string("none") : std::string(value, static_cast<std::size_t>(n));
}

// Runs the steps (see the data file) in folder; the first that fails, or empty.
std::string Steps(const std::string& folder, const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; std::getline(steps, step, ';');) {
        std::istringstream words(step);
        std::string op, path, arg, value;
        words >> op >> path >> arg >> value;
        const std::string p = folder + "/" + path;
        const auto mode = static_cast<mode_t>(op == "chmod" || op == "mode?" ? std::stoul(arg, nullptr, 8) : 0);
        struct stat st {};
        const bool exists = ::lstat(p.c_str(), &st) == 0;
        errno = 0;
        const bool ok = op == "file"      ? (WriteFile(p, "<r>previous content</r>\n"), FileExists(p))
                        : op == "dir"     ? ::mkdir(p.c_str(), 0755) == 0
                        : op == "chmod"   ? ::chmod(p.c_str(), mode) == 0
                        : op == "link"    ? ::symlink(arg.c_str(), p.c_str()) == 0
                        : op == "fifo"    ? ::mkfifo(p.c_str(), 0666) == 0
                        : op == "acl"     ? ::setxattr(p.c_str(), kAclName, kAcl.data(), kAcl.size(), 0) == 0
                        : op == "xattr"   ? ::setxattr(p.c_str(), arg.c_str(), value.data(), value.size(), 0) == 0
                        : op == "mode?"   ? exists && (st.st_mode & 07777) == mode
                        : op == "owner?"  ? exists && st.st_uid == std::stoul(arg)
                        : op == "link?"   ? exists && S_ISLNK(st.st_mode)
                        : op == "fifo?"   ? exists && S_ISFIFO(st.st_mode)
                        : op == "absent?" ? !exists
                        : op == "acl?"    ? Attribute(p, kAclName) == kAcl
                                          : op == "xattr?" && Attribute(p, arg) == value;
        if (!ok) return step + (errno ? std::string(": ") + std::strerror(errno) : "");
    }
    return {};
}

// Acts as nobody from here on (where asked and possible).
bool Become(bool nobody) {
    return !nobody || ::geteuid() != 0 ||
           (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}

}  // namespace

TEST(SaveFaults, OldFileSurvives) {
    for (std::vector<std::string> row : ReadRows(KELXML_TEST_DATA "/save-faults.tsv")) {
        row.resize(8);
        SCOPED_TRACE(row[0]);
        if (::geteuid() != 0 && row[2] != row[3]) continue;  // needs root to act as nobody
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
        WriteFile(dir.File("secret"), "secret");
        ASSERT_EQ(::chmod(dir.File("secret").c_str(), 0600), 0);
        const std::string planted = RunInChild(
            [&] { return Become(row[2] == "nobody") ? Steps(dir.path(), row[5]) : "not nobody"; }, 10);
        if (planted.find(std::strerror(EOPNOTSUPP)) != std::string::npos) continue;  // no extended attributes here
        ASSERT_EQ(planted, "");
        const std::string target = dir.File(row[1]);
        struct stat st {};
        const std::string old = ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? ReadFile(target) : "";
        std::vector<std::string> listing = dir.List();
        if (row[6].empty() && ::lstat(target.c_str(), &st) != 0)  // a new file
            listing.insert(std::upper_bound(listing.begin(), listing.end(), row[1]), row[1]);
        const std::string saved = RunInChild(
            [&]() -> std::string {
                const rlimit limit{std::stoul(row[4]), std::stoul(row[4])};
                std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
                if (!Become(row[3] == "nobody") || (limit.rlim_cur && ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
                    return "not set up";
                ::umask(022);
                XML::CKelXML doc;
                if (!doc.CreateDoc("saved")) return "no document";
                const XML::XStr text(std::string(64 << 10, 'x').c_str());
                doc.GetDocument()->getDocumentElement()->setTextContent(text.unicodeForm());
                return doc.Save(target.c_str(), false) ? "saved" : Dump(doc);
            },
            10);
        if (row[6].empty()) {
            EXPECT_EQ(saved, "saved");
            EXPECT_NE(ReadFile(target).find("<saved>"), std::string::npos);
        } else {
            EXPECT_EQ(saved.rfind("3: unable to save '" + target + "': ", 0), 0u) << saved;
            EXPECT_NE(saved.find(row[6]), std::string::npos) << saved;
            EXPECT_EQ(saved.find('\n'), saved.size() - 1) << saved;  // one record
            EXPECT_EQ(old.empty() ? "" : ReadFile(target), old);
        }
        EXPECT_EQ(dir.List(), listing);
        EXPECT_EQ(ReadFile(dir.File("secret")), "secret");
        EXPECT_EQ(Steps(dir.path(), row[7]), "");
    }
}
