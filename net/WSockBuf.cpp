#include "net/WSockBuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int size) { SetBufSize(size); }

void TBuffer::SetBufSize(int size)
{
    if (size <= 0)
        size = 1514;
    if (size == bufSize_)
        return;
    auto fresh = std::make_unique<char[]>(size_t(size));
    if (wrCount_ > 0) {
        // A smaller block keeps what fits; the counts follow it.
        wrCount_ = std::min(wrCount_, size);
        rdCount_ = std::min(rdCount_, wrCount_);
        std::memcpy(fresh.get(), buf_.get(), size_t(wrCount_));
    }
    buf_ = std::move(fresh);
    bufSize_ = size;
}

int TBuffer::Write(const void* data, int len)
{
    int n = std::min(len, bufSize_ - wrCount_);
    if (n <= 0)
        return 0;
    std::memcpy(buf_.get() + wrCount_, data, size_t(n));
    wrCount_ += n;
    return n;
}

const char* TBuffer::Peek(int& len) const
{
    len = wrCount_ - rdCount_;
    if (len <= 0) {
        len = 0;
        return nullptr;
    }
    return buf_.get() + rdCount_;
}

int TBuffer::Remove(int n)
{
    int dropped = std::clamp(n, 0, wrCount_ - rdCount_);
    rdCount_ += dropped;
    if (rdCount_ >= wrCount_) {
        rdCount_ = 0;
        wrCount_ = 0;
    }
    return dropped;
}
