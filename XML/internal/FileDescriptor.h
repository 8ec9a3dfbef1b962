// FileDescriptor: a file descriptor closed on every path, the reads every file of a load goes
// through (at an offset of the descriptor, never by the name again), and the splitting of a path
// into the names a walk opens one at a time. Internal to the library.
#ifndef KELXML_INTERNAL_FILEDESCRIPTOR_H
#define KELXML_INTERNAL_FILEDESCRIPTOR_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include <unistd.h>

namespace XML::internal {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const noexcept { return m_fd; }
    // Hands the descriptor over: this object no longer closes it.
    int Release() noexcept { return std::exchange(m_fd, -1); }
    void Reset(int fd) noexcept {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and tells whether the close succeeded (a deferred write error shows here).
    bool Close() noexcept {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Reads exactly length bytes at offset of fd into bytes (not moving the file position); false
// when the descriptor cannot be read there (a pipe) or the file ends before.
bool ReadAt(int fd, std::uint64_t offset, std::size_t length, std::string& bytes);

// Puts the names of path (split at '/', empty ones left out) in front of components, in order:
// how a path, and a link met on the way, are walked one name at a time.
void PushComponents(const std::string& path, std::deque<std::string>& components);

}  // namespace XML::internal

#endif
