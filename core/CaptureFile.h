#pragma once
// The day's capture file: received lines, each ended by CR LF, appended to
// archive/YYYY/MM/DD-MM-YY.CAP in the data folder (see CaptureNames.h). The
// event log writes its lines (ended by LF) through the same writer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

class TCaptureFile {
public:
    // Lines kept in memory while the file refuses them, at most this many bytes;
    // past it the oldest whole lines are dropped.
    static constexpr size_t kBacklogLimit = 16u << 20;
    // Lines this long are written at once, not copied into the backlog.
    static constexpr size_t kDirectLine = 1u << 20;

    TCaptureFile() = default;
    // lineEnd follows every line; noun names the file in error texts.
    TCaptureFile(std::string lineEnd, std::string noun) : lineEnd_(std::move(lineEnd)), noun_(std::move(noun)) {}
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Creates the directory chain and opens the file for appending, creating it
    // when missing. Throws std::runtime_error naming the file on failure.
    void Open(const std::string& directory, const std::string& name);
    // Writes out what is pending, then closes. Lines that cannot be written stay pending.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Queues the line and its line end; Flush hands them to the operating system.
    void WriteLine(std::string_view line);
    // True when everything pending was written; on failure the rest stays pending
    // and LastError() says why.
    bool Flush();
    size_t PendingBytes() const { return pending_.size(); }
    uint64_t DroppedBytes() const { return dropped_; }
    const std::string& LastError() const { return lastError_; }

private:
    std::string lineEnd_ = "\r\n";
    std::string noun_ = "capture file";
    int fd_ = -1;
    std::string path_;
    std::string pending_;
    uint64_t dropped_ = 0;
    bool fileEndsMidLine_ = false;  // a write stopped inside the first pending line
    std::string lastError_;
};
