#include "support/AtomicFile.h"

#include "support/SysCall.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err)
{
    throw std::runtime_error(what + " \"" + path + "\": " + ErrnoText(err));
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = RetryEintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
        if (n < 0)
            return false;
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

}  // namespace

void AtomicWriteFile(const std::string& path, std::string_view bytes, mode_t mode)
{
    const std::string tmp = path + ".tmp~";
    const int fd = RetryEintr([&] { return ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode); });
    if (fd < 0)
        Fail("Cannot create file", tmp, errno);
    ::fchmod(fd, mode);  // the umask must not widen or narrow what was asked for
    if (!WriteAll(fd, bytes) || RetryEintr([&] { return ::fsync(fd); }) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        Fail("Cannot write file", path, err);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail("Cannot write file", path, err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail("Cannot replace file", path, err);
    }
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    const int fd = RetryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return false;
    // Read in place up to the size the file has now, reusing what bytes holds;
    // a file still growing is read on to its end.
    struct stat info {};
    size_t size = ::fstat(fd, &info) == 0 && info.st_size > 0 ? size_t(info.st_size) : 0;
    bytes.resize(size);
    size_t done = 0;
    for (;;) {
        if (done == bytes.size())
            bytes.resize(done + 65536);
        const ssize_t n = RetryEintr([&] { return ::read(fd, bytes.data() + done, bytes.size() - done); });
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            bytes.clear();
            errno = err;
            return false;
        }
        if (n == 0)
            break;
        done += size_t(n);
    }
    bytes.resize(done);
    ::close(fd);
    return true;
}
