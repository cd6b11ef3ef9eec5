// TBuffer, one block of a socket's send queue, against a model kept as a
// string: the input is a list of operations (write, peek, remove, resize)
// and after each one the block and the model must agree.
#include "fuzz/FuzzSupport.h"
#include "net/WSockBuf.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The bytes of the block up to WrCount, and where reading has got to.
struct Model {
    int size = 0;
    std::string written;
    int read = 0;

    void Resize(int wanted)
    {
        if (wanted <= 0)
            wanted = 1514;
        size = wanted;
        if (written.size() > size_t(size))
            written.resize(size_t(size));
        read = std::min(read, int(written.size()));
    }
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    int Signed16() { return int16_t(uint16_t(Byte() | Byte() << 8)); }
    const uint8_t* Take(size_t& n)
    {
        n = std::min(n, size_ - at_);
        const uint8_t* p = data_ + at_;
        at_ += n;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    const int initial = in.Signed16();
    TBuffer block(initial);
    Model model;
    model.Resize(initial);

    while (in.More()) {
        switch (in.Byte() % 4) {
        case 0: {
            const int len = int(int8_t(in.Byte()));
            size_t available = size_t(std::max(len, 0));
            const uint8_t* bytes = in.Take(available);
            // A length past the input's end is cut to what is there.
            const int asked = len < 0 ? len : int(available);
            const int room = model.size - int(model.written.size());
            const int expected = asked <= 0 || room <= 0 ? 0 : std::min(asked, room);
            FUZZ_CHECK(block.Write(bytes, asked) == expected);
            model.written.append(reinterpret_cast<const char*>(bytes), size_t(expected));
            break;
        }
        case 1: {
            int len = -1;
            const char* p = block.Peek(len);
            const int waiting = int(model.written.size()) - model.read;
            FUZZ_CHECK(len == waiting);
            FUZZ_CHECK((p == nullptr) == (waiting == 0));
            if (p)
                FUZZ_CHECK(std::memcmp(p, model.written.data() + model.read, size_t(len)) == 0);
            break;
        }
        case 2: {
            const int n = int(int8_t(in.Byte())) * 3;
            const int waiting = int(model.written.size()) - model.read;
            const int expected = std::clamp(n, 0, waiting);
            FUZZ_CHECK(block.Remove(n) == expected);
            model.read += expected;
            if (model.read >= int(model.written.size())) {
                model.read = 0;
                model.written.clear();
            }
            break;
        }
        default: {
            const int wanted = in.Signed16();
            block.SetBufSize(wanted);
            model.Resize(wanted);
            break;
        }
        }
        FUZZ_CHECK(block.BufSize() == model.size);
        FUZZ_CHECK(block.WrCount() == int(model.written.size()));
        FUZZ_CHECK(block.RdCount() == model.read);
        FUZZ_CHECK(block.Waiting() == int(model.written.size()) - model.read);
    }
    return 0;
}
