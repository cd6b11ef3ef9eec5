#pragma once
// TBuffer: one block of a socket's send queue. The bytes between RdCount and
// WrCount are waiting to go out.
#include <memory>

class TBuffer {
public:
    // A size of 0 or less gives a block of 1514 bytes.
    explicit TBuffer(int size);

    // Copies as much of data as fits after WrCount; returns the count copied.
    int Write(const void* data, int len);
    // The first waiting byte and the number waiting, or nullptr and 0.
    const char* Peek(int& len) const;
    // Drops up to n waiting bytes; an emptied block starts again at 0.
    int Remove(int n);
    void SetBufSize(int size);

    int BufSize() const { return bufSize_; }
    int WrCount() const { return wrCount_; }
    int RdCount() const { return rdCount_; }
    int Waiting() const { return wrCount_ - rdCount_; }

private:
    std::unique_ptr<char[]> buf_;
    int bufSize_ = 0;
    int wrCount_ = 0;
    int rdCount_ = 0;
};
