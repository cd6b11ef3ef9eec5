#include "core/CaptureFile.h"

#include "support/SysCall.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void MakeDirectories(const std::string& directory)
{
    for (size_t pos = directory.find('/', 1); pos != std::string::npos; pos = directory.find('/', pos + 1)) {
        const std::string part = directory.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("Cannot create directory \"" + part + "\": " + ErrnoText(errno));
    }
}

}  // namespace

TCaptureFile::~TCaptureFile() { Close(); }

void TCaptureFile::Open(const std::string& directory, const std::string& name)
{
    MakeDirectories(directory);
    const std::string path = directory + name;
    const int fd = RetryEintr([&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); });
    if (fd < 0)
        throw std::runtime_error("Cannot open " + noun_ + " \"" + path + "\": " + ErrnoText(errno));
    fd_ = fd;
    path_ = path;
}

void TCaptureFile::Close()
{
    if (fd_ < 0)
        return;
    Flush();
    ::close(fd_);
    fd_ = -1;
}

void TCaptureFile::WriteLine(std::string_view line)
{
    // A very long line goes straight to an open file rather than be copied
    // into the backlog first; what the file does not take waits there.
    if (line.size() >= kDirectLine && pending_.empty() && fd_ >= 0) {
        while (!line.empty()) {
            const ssize_t n = RetryEintr([&] { return ::write(fd_, line.data(), line.size()); });
            if (n <= 0)
                break;
            line.remove_prefix(size_t(n));
        }
    }
    pending_.append(line);
    pending_.append(lineEnd_);
    // An open file takes the lines now rather than lose the oldest of a large batch.
    if (pending_.size() > kBacklogLimit && fd_ >= 0)
        Flush();
    if (pending_.size() > kBacklogLimit) {
        // Drop whole lines from the front, a quarter of the limit at a time, so
        // that a failing file does not move the whole backlog for every line.
        // The rest of a line the file holds a part of stays, or the file would
        // join that part to a later line.
        const size_t keep = fileEndsMidLine_ ? pending_.find('\n') + 1 : 0;
        size_t cut = pending_.find(lineEnd_, std::max(keep, pending_.size() - kBacklogLimit * 3 / 4));
        cut = cut == std::string::npos ? pending_.size() : cut + lineEnd_.size();
        dropped_ += cut - keep;
        pending_.erase(keep, cut - keep);
    }
}

bool TCaptureFile::Flush()
{
    if (pending_.empty())
        return true;
    if (fd_ < 0) {
        lastError_ = "no " + noun_ + " is open";
        return false;
    }
    size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = RetryEintr([&] { return ::write(fd_, pending_.data() + done, pending_.size() - done); });
        if (n < 0) {
            lastError_ = "Cannot write " + noun_ + " \"" + path_ + "\": " + ErrnoText(errno);
            pending_.erase(0, done);
            return false;
        }
        done += size_t(n);
        fileEndsMidLine_ = pending_[done - 1] != '\n';
    }
    pending_.clear();
    if (pending_.capacity() > kDirectLine)
        std::string().swap(pending_);  // a burst's backlog is not kept for good
    return true;
}
