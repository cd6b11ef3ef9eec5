#include "core/CaptureFile.h"

#include "core/TimeIndex.h"
#include "support/SysCall.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void AppendRecord(std::string& to, uint64_t offset, uint32_t milliseconds)
{
    char record[kTimeRecordSize];
    for (size_t i = 0; i < 8; ++i)
        record[i] = char(offset >> (8 * i));
    for (size_t i = 0; i < 4; ++i)
        record[8 + i] = char(milliseconds >> (8 * i));
    to.append(record, kTimeRecordSize);
}

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
    struct stat info {};
    fileSize_ = ::fstat(fd, &info) == 0 ? uint64_t(info.st_size) : 0;
    fd_ = fd;
    path_ = path;
    if (timeIndex_) {
        timePath_ = path.size() > 4 ? path.substr(0, path.size() - 4) + ".TIM" : path + ".TIM";
        OpenTimes();
    }
}

void TCaptureFile::OpenTimes()
{
    const int fd =
        RetryEintr([&] { return ::open(timePath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); });
    if (fd < 0)
        return;
    // A record cut short by a crash would shift every later one.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || (info.st_size % kTimeRecordSize != 0 &&
                                    ::ftruncate(fd, info.st_size - info.st_size % off_t(kTimeRecordSize)) != 0)) {
        ::close(fd);
        return;
    }
    timeFd_ = fd;
    timeHead_ = 0;
}

void TCaptureFile::Close()
{
    if (fd_ < 0)
        return;
    Flush();
    ::close(fd_);
    fd_ = -1;
    // What the index did not take names this file; it cannot go to another.
    timeDropped_ += timePending_.size();
    timePending_.clear();
    timeHead_ = 0;
    pendingTimes_.clear();
    timesHead_ = 0;
    if (timeFd_ >= 0)
        ::close(timeFd_);
    timeFd_ = -1;
    timePath_.clear();
}

void TCaptureFile::WriteLine(std::string_view line, std::optional<uint32_t> milliseconds)
{
    // A very long line goes straight to an open file rather than be copied
    // into the backlog first; what the file does not take waits there.
    if (line.size() >= kDirectLine && pending_.empty() && fd_ >= 0) {
        const uint64_t start = fileSize_;
        while (!line.empty()) {
            const ssize_t n = RetryEintr([&] { return ::write(fd_, line.data(), line.size()); });
            if (n <= 0)
                break;
            line.remove_prefix(size_t(n));
            fileSize_ += uint64_t(n);
            fileEndsMidLine_ = true;
        }
        if (fileSize_ > start && milliseconds) {
            AppendRecord(timePending_, start, *milliseconds);
            milliseconds.reset();
        }
    }
    if (milliseconds)
        pendingTimes_.push_back({queued_, *milliseconds});
    queued_ += line.size() + lineEnd_.size();
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
        // The lines after the cut keep their place counted from the end; only
        // the dropped lines' times go (the kept part's line has its time in the file).
        const uint64_t base = queued_ - pending_.size();
        while (timesHead_ < pendingTimes_.size() && pendingTimes_[timesHead_].At < base + cut)
            ++timesHead_;
        CompactTimes();
        dropped_ += cut - keep;
        pending_.erase(keep, cut - keep);
    }
}

bool TCaptureFile::Flush()
{
    if (pending_.empty()) {
        FlushTimes();
        return true;
    }
    if (fd_ < 0) {
        lastError_ = "no " + noun_ + " is open";
        return false;
    }
    size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = RetryEintr([&] { return ::write(fd_, pending_.data() + done, pending_.size() - done); });
        if (n < 0) {
            lastError_ = "Cannot write " + noun_ + " \"" + path_ + "\": " + ErrnoText(errno);
            SettleTimes(done);
            pending_.erase(0, done);
            FlushTimes();
            return false;
        }
        done += size_t(n);
        fileEndsMidLine_ = pending_[done - 1] != '\n';
    }
    SettleTimes(done);
    pending_.clear();
    if (pending_.capacity() > kDirectLine)
        std::string().swap(pending_);  // a burst's backlog is not kept for good
    FlushTimes();
    return true;
}

void TCaptureFile::SettleTimes(size_t written)
{
    const uint64_t base = queued_ - pending_.size();
    for (; timesHead_ < pendingTimes_.size() && pendingTimes_[timesHead_].At < base + written; ++timesHead_)
        AppendRecord(timePending_, fileSize_ + (pendingTimes_[timesHead_].At - base),
                     pendingTimes_[timesHead_].Milliseconds);
    CompactTimes();
    fileSize_ += written;
}

void TCaptureFile::CompactTimes()
{
    if (timesHead_ == pendingTimes_.size()) {
        pendingTimes_.clear();
        timesHead_ = 0;
    } else if (timesHead_ > 4096 && timesHead_ * 2 > pendingTimes_.size()) {
        pendingTimes_.erase(pendingTimes_.begin(), pendingTimes_.begin() + std::ptrdiff_t(timesHead_));
        timesHead_ = 0;
    }
}

// The index's own backlog is bounded like the capture's; past it the oldest
// records go, and those lines have no time.
void TCaptureFile::FlushTimes()
{
    if (timePending_.empty())
        return;
    if (timeFd_ < 0 && !timePath_.empty())
        OpenTimes();
    size_t done = 0;
    while (timeFd_ >= 0 && done < timePending_.size()) {
        const ssize_t n =
            RetryEintr([&] { return ::write(timeFd_, timePending_.data() + done, timePending_.size() - done); });
        if (n < 0)
            break;
        done += size_t(n);
    }
    timeHead_ = (timeHead_ + done) % kTimeRecordSize;
    timePending_.erase(0, done);
    if (timePending_.size() > kBacklogLimit) {
        // A record the index holds a part of stays whole.
        const size_t keep = timeHead_ == 0 ? 0 : kTimeRecordSize - timeHead_;
        size_t cut = timePending_.size() - kBacklogLimit * 3 / 4;
        cut = keep + (cut - keep + kTimeRecordSize - 1) / kTimeRecordSize * kTimeRecordSize;
        timeDropped_ += cut - keep;
        timePending_.erase(keep, cut - keep);
    }
}
