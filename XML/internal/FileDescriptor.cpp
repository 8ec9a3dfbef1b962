// FileDescriptor: reads at an offset of an open file, the names of a path (see FileDescriptor.h).
#include "XML/internal/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace XML::internal {

bool ReadAt(int fd, std::uint64_t offset, std::size_t length, std::string& bytes) {
    bytes.resize(length);
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void PushComponents(const std::string& path, std::deque<std::string>& components) {
    std::vector<std::string> parts;
    for (std::size_t begin = 0; begin <= path.size();) {
        const std::size_t slash = std::min(path.find('/', begin), path.size());
        if (slash > begin) parts.emplace_back(path, begin, slash - begin);
        begin = slash + 1;
    }
    components.insert(components.begin(), parts.begin(), parts.end());
}

}  // namespace XML::internal
