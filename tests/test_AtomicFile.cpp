// The atomic file writer, on real files, with real processes stopped and killed while they save.
#include "TestSupport.h"

#include "XML/internal/AtomicFile.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelxml_test;
using XML::internal::TemporaryKind;

namespace {

// Writes content to path through the unit; the error text, empty on success.
std::string Write(const std::string& path, const std::string& content, TemporaryKind kind) {
    std::string error;
    const bool ok = XML::internal::WriteFileAtomically(
        path.c_str(), reinterpret_cast<const unsigned char*>(content.data()), content.size(), error, kind);
    return ok ? std::string() : (error.empty() ? "failed without a reason" : error);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

// A child process running body, killed and reaped when the object goes: no test leaves one behind.
class Child {
public:
    explicit Child(const std::function<void()>& body) : m_pid(::fork()) {
        if (m_pid == 0) {
            body();
            ::_exit(0);
        }
    }
    ~Child() { Kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return m_pid; }
    void Kill() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid;
};

// Every file of dir and every file that pid holds open in dir, even unnamed, with its mode.
std::vector<std::pair<std::string, mode_t>> FilesIn(const std::string& dir, pid_t pid) {
    std::vector<std::pair<std::string, mode_t>> files;
    const auto scan = [&](const std::string& folder, bool throughLinks) {
        const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
        if (!listing) return;
        while (const dirent* entry = ::readdir(listing.get())) {
            const std::string path = folder + "/" + entry->d_name;
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (throughLinks) {
                char target[4096];
                const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
                if (n <= 0 || std::string(target, static_cast<std::size_t>(n)).rfind(dir + "/", 0) != 0) continue;
                name = "open: " + std::string(target, static_cast<std::size_t>(n));
            }
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.emplace_back(name, st.st_mode & 07777);
        }
    };
    scan(dir, false);
    scan("/proc/" + std::to_string(pid) + "/fd", true);
    return files;
}

struct Kinds : testing::TestWithParam<TemporaryKind> {};

INSTANTIATE_TEST_SUITE_P(AtomicFile, Kinds, testing::Values(TemporaryKind::Unnamed, TemporaryKind::Named),
                         [](const testing::TestParamInfo<TemporaryKind>& info) {
                             return info.param == TemporaryKind::Unnamed ? "Unnamed" : "Named";
                         });

// A child saves a private file over and over; stopped at random moments, no file in the folder
// and no file it holds open there ever grants more than the target's 0600.
TEST_P(Kinds, PrivateFileNeverExposedWhileSaving) {
    TempDir dir;
    const std::string target = dir.File("secret.xml");
    ASSERT_EQ(Write(target, "old", GetParam()), "");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const std::string content(1 << 20, 's');
    Child saver([&] {
        ::umask(022);
        for (;;) Write(target, content, GetParam());
    });
    ASSERT_GT(saver.pid(), 0);
    std::mt19937 random(std::random_device{}());
    int stops = 0;
    int stopsThatSawOne = 0;
    std::vector<std::string> exposed;
    for (; stops < 150; ++stops) {
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 3000)(random));
        ASSERT_EQ(::kill(saver.pid(), SIGSTOP), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(saver.pid(), &status, WUNTRACED), saver.pid());
        ASSERT_TRUE(WIFSTOPPED(status));
        bool seen = false;
        std::string exposure;
        for (const auto& [name, mode] : FilesIn(dir.path(), saver.pid())) {
            seen = seen || (name != "secret.xml" && name != "open: " + target);
            if ((mode & ~0600u) != 0) exposure = name + " mode " + std::to_string(mode);
        }
        stopsThatSawOne += seen;
        if (!exposure.empty()) exposed.push_back(exposure);
        ::kill(saver.pid(), SIGCONT);
    }
    saver.Kill();
    std::printf("[   INFO   ] %d stops, %d saw a temporary file, %zu a file readable by others\n", stops,
                stopsThatSawOne, exposed.size());
    EXPECT_TRUE(exposed.empty()) << exposed.front();
    EXPECT_GT(stopsThatSawOne, 0) << "no stop caught a save at work: the check proved nothing";
    EXPECT_EQ(ModeOf(target), 0600u);
}

// A child saves a 5 MB file in a loop and is killed at random moments: the target is always one
// complete version, and whatever a kill left beside it goes with the next successful save.
TEST_P(Kinds, KilledAnywhereLeavesOneCompleteVersion) {
    TempDir dir;
    const std::string target = dir.File("big.xml");
    const std::string versions[] = {std::string(5 << 20, 'a'), std::string(5 << 20, 'b')};
    ASSERT_EQ(Write(target, versions[0], GetParam()), "");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    std::mt19937 random(std::random_device{}());
    const auto start = std::chrono::steady_clock::now();
    int kills = 0;
    std::size_t mostLeftovers = 0;
    for (; kills < 60 && std::chrono::steady_clock::now() - start < std::chrono::seconds(3); ++kills) {
        Child saver([&] {
            for (int i = 1;; ++i) Write(target, versions[i % 2], GetParam());
        });
        ASSERT_GT(saver.pid(), 0);
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 40000)(random));
        saver.Kill();
        const std::string now = ReadFile(target);
        ASSERT_TRUE(now == versions[0] || now == versions[1])
            << "after kill " << kills << ": " << now.size() << " bytes, not a complete version";
        ASSERT_EQ(ModeOf(target), 0600u);
        mostLeftovers = std::max(mostLeftovers, dir.List().size() - 1);
    }
    std::size_t leftoverBytes = 0;
    int leftoversExposed = 0;
    for (const std::string& name : dir.List()) {
        struct stat st {};
        if (name == "big.xml" || ::stat(dir.File(name).c_str(), &st) != 0) continue;
        leftoverBytes += static_cast<std::size_t>(st.st_size);
        leftoversExposed += (st.st_mode & 077) != 0;
    }
    std::printf(
        "[   INFO   ] %d kills, at most %zu files beside the target, at the end %zu (%zu bytes, %d readable "
        "by others)\n",
        kills, mostLeftovers, dir.List().size() - 1, leftoverBytes, leftoversExposed);
    EXPECT_LE(mostLeftovers, 1u);
    ASSERT_EQ(Write(target, versions[1], GetParam()), "");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"big.xml"});
}

// What a killed save left goes with the next save of the same target; the mode and the owner's
// group of an existing target are kept, a new file gets the umask's mode.
TEST_P(Kinds, LeftoversGoModesStay) {
    TempDir dir;
    const std::string target = dir.File("doc.xml");
    // The unnamed kind's own name, and one of the named kind's (which only that kind looks for).
    std::vector<std::string> leftovers = {XML::internal::TemporaryFileName("doc.xml")};
    if (GetParam() == TemporaryKind::Named) leftovers.push_back(std::string(leftovers[0]).insert(24, "-0badf00d"));
    for (const std::string& leftover : leftovers) WriteFile(dir.File(leftover), "stale");
    WriteFile(dir.File(XML::internal::TemporaryFileName("other.xml")), "another target's");
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(Write(target, "new", GetParam()), "");
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ModeOf(target), 0640u);
    const auto listing = dir.List();
    EXPECT_EQ(listing.size(), 2u);  // the target, and the other target's file
    for (const std::string& leftover : leftovers)
        EXPECT_EQ(std::count(listing.begin(), listing.end(), leftover), 0) << leftover;

    const mode_t old = ::umask(027);
    const std::string error = Write(dir.File("fresh.xml"), "fresh", GetParam());
    ::umask(old);
    EXPECT_EQ(error, "");
    EXPECT_EQ(ModeOf(dir.File("fresh.xml")), 0640u);
}

// Names up to the file system's limit save; one byte more is refused and leaves nothing.
TEST_P(Kinds, NamesUpToTheLimitSave) {
    TempDir dir;
    for (const std::size_t length : {200u, 233u, 234u, 250u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name = std::string(length - 4, 'n') + ".xml";
        EXPECT_EQ(Write(dir.File(name), "<long/>", GetParam()), "");
        EXPECT_EQ(ReadFile(dir.File(name)), "<long/>");
        EXPECT_EQ(dir.List(), std::vector<std::string>{name});
        ::unlink(dir.File(name).c_str());
    }
    const std::string error = Write(dir.File(std::string(256, 'n')), "<long/>", GetParam());
    EXPECT_NE(error.find(std::strerror(ENAMETOOLONG)), std::string::npos) << error;
    EXPECT_TRUE(dir.List().empty());
}

}  // namespace
