// The atomic file writer, on real files, with real processes stopped and killed while they save.
#include "TestSupport.h"

#include "XML/internal/AtomicFile.h"

#include <csignal>
#include <functional>
#include <memory>
#include <random>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

// The regular files of dir and those pid holds open there, even unnamed: whether one is not
// target, and the last that grants more than 0600 (empty when none).
std::pair<bool, std::string> Scan(const std::string& dir, const std::string& target, pid_t pid) {
    std::pair<bool, std::string> found;
    for (const std::string& folder : {dir, "/proc/" + std::to_string(pid) + "/fd"}) {
        const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
        for (const dirent* entry = nullptr; listing && (entry = ::readdir(listing.get()));) {
            const std::string path = folder + "/" + entry->d_name;
            char name[4096] = {};
            if (folder != dir &&
                (::readlink(path.c_str(), name, sizeof name - 1) <= 0 || std::string(name).rfind(dir + "/", 0) != 0))
                continue;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            found.first = found.first || (folder == dir ? path : name) != target;
            if ((st.st_mode & 07777 & ~0600u) != 0) found.second = path + " mode " + std::to_string(st.st_mode & 07777);
        }
    }
    return found;
}

// A child process running body, killed and reaped when the object goes.
struct Child {
    explicit Child(const std::function<void()>& body) : pid(::fork()) {
        if (pid == 0) body(), ::_exit(0);
    }
    ~Child() {
        if (pid > 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    const pid_t pid;
};

struct Kinds : testing::TestWithParam<TemporaryKind> {};

INSTANTIATE_TEST_SUITE_P(AtomicFile, Kinds, testing::Values(TemporaryKind::Unnamed, TemporaryKind::Named),
                         [](const testing::TestParamInfo<TemporaryKind>& info) {
                             return info.param == TemporaryKind::Unnamed ? "Unnamed" : "Named";
                         });

// A child saves a private file (0600) over and over under umask 022, and is stopped at a random
// moment: no file in the folder, and none it holds open there, grants more; the target is one
// complete version. Killed there, it leaves at most one file beside the target, which the next
// save removes.
TEST_P(Kinds, StoppedOrKilledAnywhere) {
    TempDir dir;
    const std::string target = dir.File("secret.xml");
    const std::string versions[] = {std::string(2 << 20, 'a'), std::string(2 << 20, 'b')};
    ASSERT_EQ(Write(target, versions[0], GetParam()), "");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    std::mt19937 random(std::random_device{}());
    int stopsThatSawOne = 0;
    for (int stop = 0; stop < 100; ++stop) {
        {
            const Child saver([&] {
                ::umask(022);
                for (int i = 1;; ++i) Write(target, versions[i % 2], GetParam());
            });
            ASSERT_GT(saver.pid, 0);
            ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
            int status = 0;
            ASSERT_EQ(::kill(saver.pid, SIGSTOP), 0);
            ASSERT_EQ(::waitpid(saver.pid, &status, WUNTRACED), saver.pid);
            const auto [other, exposed] = Scan(dir.path(), target, saver.pid);
            stopsThatSawOne += other;
            ASSERT_EQ(exposed, "") << "at stop " << stop;
            const std::string now = ReadFile(target);
            ASSERT_TRUE(now == versions[0] || now == versions[1]) << "at stop " << stop << ": " << now.size();
            ASSERT_EQ(ModeOf(target), 0600u);
        }
        ASSERT_LE(dir.List().size(), 2u) << "after kill " << stop;
    }
    EXPECT_GT(stopsThatSawOne, 0) << "no stop caught a save at work: the check proved nothing";
    ASSERT_EQ(Write(target, versions[1], GetParam()), "");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"secret.xml"});
}

// What a killed save left goes with the next save of the same target; the mode of an existing
// target is kept, also through a link, which stays a link; a new file gets the umask's mode.
TEST_P(Kinds, LeftoversGoModesStay) {
    TempDir dir;
    const std::string target = dir.File("doc.xml"), other = XML::internal::TemporaryFileName("other.xml");
    // The unnamed kind's own name, and one of the named kind's (which only that kind looks for).
    std::vector<std::string> leftovers = {XML::internal::TemporaryFileName("doc.xml")};
    if (GetParam() == TemporaryKind::Named) leftovers.push_back(std::string(leftovers[0]).insert(24, "-0badf00d"));
    for (const std::string& name : leftovers) WriteFile(dir.File(name), "stale");
    WriteFile(dir.File(other), "another target's");
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(Write(target, "new", GetParam()), "");
    for (const std::string& name : leftovers) EXPECT_FALSE(FileExists(dir.File(name))) << name;
    EXPECT_EQ(ReadFile(dir.File(other)), "another target's");
    ASSERT_EQ(::symlink("doc.xml", dir.File("link.xml").c_str()), 0);
    ASSERT_EQ(Write(dir.File("link.xml"), "linked", GetParam()), "");
    struct stat st {};
    EXPECT_TRUE(::lstat(dir.File("link.xml").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(target), "linked");
    EXPECT_EQ(ModeOf(target), 0640u);
    EXPECT_EQ(dir.List().size(), 3u);

    const mode_t old = ::umask(027);
    EXPECT_EQ(Write(dir.File("fresh.xml"), "fresh", GetParam()), "");
    ::umask(old);
    EXPECT_EQ(ModeOf(dir.File("fresh.xml")), 0640u);
}

}  // namespace
