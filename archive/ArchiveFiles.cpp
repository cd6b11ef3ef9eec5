#include "archive/ArchiveFiles.h"

#include "support/SysCall.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace ArchiveFiles {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error)
{
    throw std::runtime_error(std::string(what) + " \"" + path + "\": " + ErrnoText(error));
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

int OpenRead(const std::string& path)
{
    const int fd = RetryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        Fail("Cannot open", path, errno);
    return fd;
}

// Reads up to size bytes; fewer only at the end of the file.
size_t ReadSome(int fd, char* buffer, size_t size, const std::string& path)
{
    const ssize_t n = RetryEintr([&] { return ::read(fd, buffer, size); });
    if (n < 0)
        Fail("Cannot read", path, errno);
    return size_t(n);
}

void WriteAll(int fd, const char* data, size_t size, const std::string& path)
{
    while (size > 0) {
        const ssize_t n = RetryEintr([&] { return ::write(fd, data, size); });
        if (n < 0)
            Fail("Cannot write", path, errno);
        data += n;
        size -= size_t(n);
    }
}

off_t SizeOf(int fd, const std::string& path)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        Fail("Cannot read", path, errno);
    if (S_ISDIR(st.st_mode))
        Fail("Cannot read", path, EISDIR);
    return st.st_size;
}

uint64_t CopyInto(const std::string& source, int out, const std::string& target)
{
    uint64_t copied = 0;
    Fd in(OpenRead(source));
    off_t left = SizeOf(in.get(), source);
    std::string buffer(1 << 20, '\0');
    while (left > 0) {
        const size_t want = size_t(std::min<off_t>(left, off_t(buffer.size())));
        const size_t got = ReadSome(in.get(), buffer.data(), want, source);
        if (got == 0)
            break;  // the file was cut short meanwhile
        WriteAll(out, buffer.data(), got, target);
        left -= off_t(got);
        copied += got;
    }
    return copied;
}

}  // namespace

std::vector<std::string> Match(const std::string& pattern)
{
    const size_t slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
    const std::string prefix = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);

    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR)
            return found;
        Fail("Cannot list", folder, errno);
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this function's own.
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (::fnmatch(namePattern.c_str(), name.c_str(), FNM_PERIOD) != 0)
            continue;
        // A link is followed; a dangling one is listed and fails when read.
        struct stat st {};
        const std::string path = prefix + name;
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        found.push_back(path);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<uint64_t> Snapshot(const std::vector<std::string>& sources, const std::string& target)
{
    // A fresh file: never write through a link or into someone else's file.
    if (::unlink(target.c_str()) != 0 && errno != ENOENT)
        Fail("Cannot replace", target, errno);
    const int fd = RetryEintr([&] { return ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
    if (fd < 0)
        Fail("Cannot create", target, errno);
    Fd out(fd);
    std::vector<uint64_t> sizes;
    try {
        for (const std::string& source : sources)
            sizes.push_back(CopyInto(source, out.get(), target));
        if (::close(out.release()) != 0)
            Fail("Cannot write", target, errno);
    } catch (...) {
        Remove(target);
        throw;
    }
    return sizes;
}

std::string ReadAll(const std::string& path)
{
    Fd in(OpenRead(path));
    std::string bytes(size_t(SizeOf(in.get(), path)), '\0');
    size_t have = 0;
    while (have < bytes.size()) {
        const size_t got = ReadSome(in.get(), bytes.data() + have, bytes.size() - have, path);
        if (got == 0)
            break;
        have += got;
    }
    bytes.resize(have);
    // Whatever was added after the size was taken.
    char more[65536];
    while (const size_t got = ReadSome(in.get(), more, sizeof more, path))
        bytes.append(more, got);
    return bytes;
}

void Remove(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace ArchiveFiles
