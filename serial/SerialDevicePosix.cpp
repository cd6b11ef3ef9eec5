// The one file with the serial device's system calls. <asm/termbits.h> gives
// termios2/BOTHER (any speed) and clashes with <termios.h>, so only this file
// includes it.
#include "serial/SerialDevicePosix.h"

#include "support/SysCall.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace SerialDevice {

static_assert(sizeof(TermiosImage) == sizeof(struct termios2));
static_assert(offsetof(TermiosImage, c_cc) == offsetof(struct termios2, c_cc));
static_assert(offsetof(TermiosImage, c_ispeed) == offsetof(struct termios2, c_ispeed));
static_assert(kCbaud == CBAUD && kBother == BOTHER);

namespace {

int Ioctl(int fd, unsigned long request, void* arg)
{
    return RetryEintr([&] { return ::ioctl(fd, request, arg); }) == 0 ? 0 : errno;
}

// Ptys and some adapters have no modem lines or counters; for them the call is
// not an error, there is simply nothing to drive or read.
bool NotSupported(int e) { return e == ENOTTY || e == EINVAL; }

}  // namespace

int FillTermios(TermiosImage& t, const LineSettings& s)
{
    if (s.DataBits < 5 || s.DataBits > 8 || s.ParityType > 4 || s.StopBits > 2 || s.BaudRate == 0)
        return EINVAL;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR |
                   IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT) | HUPCL);
    static const uint32_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= CREAD | CLOCAL | sizes[s.DataBits - 5] | BOTHER;
    t.c_ispeed = t.c_ospeed = s.BaudRate;
    switch (s.ParityType) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // A checked byte with an error is read as NUL, the only replacement Linux
    // offers. Without replacement it is marked instead, and the worker passes
    // it on as received (TErrorMarkDecoder).
    if (s.ParityType != 0) {
        t.c_iflag |= INPCK;
        if (!s.ParityErrorReplacement)
            t.c_iflag |= PARMRK;
    }
    // 1.5 stop bits: Linux gives 1.5 for CSTOPB with 5 data bits, else 2.
    if (s.StopBits != 0)
        t.c_cflag |= CSTOPB;
    // CTS output flow and RTS receive handshake are one flag on Linux. DSR/DTR
    // handshaking (0x0008, 0x0020, 0x0040), "go on after XOFF sent" (0x0080),
    // RTS toggling (0x3000) and abort-on-error (0x4000) have no equivalent.
    // 0x3000 is one two-bit RTS mode (toggle), not handshake plus enable.
    if ((s.FlowControl & 0x0004) || (s.FlowControl & 0x3000) == 0x2000)
        t.c_cflag |= CRTSCTS;
    if (s.FlowControl & 0x0100)
        t.c_iflag |= IXON;
    if (s.FlowControl & 0x0200)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = uint8_t(s.XONChar);
    t.c_cc[VSTOP] = uint8_t(s.XOFFChar);
    // Non-blocking reads ignore VMIN; poll() reports input only once VMIN bytes wait.
    t.c_cc[VMIN] = s.WakeCount ? s.WakeCount : 1;
    t.c_cc[VTIME] = 0;
    return 0;
}

bool TermiosTook(const TermiosImage& asked, const TermiosImage& got)
{
    const uint32_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    if ((asked.c_cflag & mask) != (got.c_cflag & mask))
        return false;
    // A UART divides its clock: allow the rounding of the speed it ends up with.
    const double want = asked.c_ospeed, have = got.c_ospeed;
    return have >= want * 0.98 && have <= want * 1.02;
}

bool MarksErrors(const TermiosImage& t) { return (t.c_iflag & PARMRK) != 0; }

std::string TErrorMarkDecoder::Decode(const std::string& marked)
{
    std::string out;
    out.reserve(marked.size());
    for (char c : marked) {
        switch (held_) {
        case Held::Nothing:
            if (c == '\xff')
                held_ = Held::Escape;
            else
                out += c;
            break;
        case Held::Escape:
            if (c == '\0') {
                held_ = Held::Marked;
            } else {
                // 255 255 is one 255; 255 before anything else is no mark at
                // all (it came before marking was switched on): keep both.
                if (c != '\xff')
                    out += '\xff';
                out += c;
                held_ = Held::Nothing;
            }
            break;
        case Held::Marked:
            out += c;
            held_ = Held::Nothing;
            break;
        }
    }
    return out;
}

std::string TErrorMarkDecoder::TakeHeld()
{
    std::string held = held_ == Held::Escape ? "\xff" : "";
    held_ = Held::Nothing;
    return held;
}

std::string DevicePath(const std::string& commPort)
{
    std::string name = commPort.substr(0, 79);
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

int Open(const std::string& path, int& fd)
{
    fd = RetryEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0)
        return errno;
    // flock first: if another of us holds the port we leave its TIOCEXCL alone.
    // TIOCEXCL keeps out other programs; root passes it, so flock is the real guard.
    if (RetryEintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        fd = -1;
        return e;
    }
    ::ioctl(fd, TIOCEXCL);  // not a tty: the settings step reports it
    return 0;
}

int Close(int fd)
{
    if (fd < 0)
        return EBADF;
    // TIOCEXCL outlives this descriptor while another one (the simulator's) is open.
    ::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int GetTermios(int fd, TermiosImage& t)
{
    struct termios2 k;
    if (int e = Ioctl(fd, TCGETS2, &k))
        return e;
    std::memcpy(static_cast<void*>(&t), &k, sizeof k);
    return 0;
}

int SetTermios(int fd, const TermiosImage& t)
{
    struct termios2 k;
    std::memcpy(&k, &t, sizeof k);
    if (int e = Ioctl(fd, TCSETS2, &k))
        return e;
    TermiosImage back;
    if (int e = GetTermios(fd, back))
        return e;
    return TermiosTook(t, back) ? 0 : EINVAL;
}

int SetLine(int fd, Line line, bool on)
{
    int bits = line == Line::Rts ? TIOCM_RTS : TIOCM_DTR;
    int e = Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
    return NotSupported(e) ? 0 : e;
}

int SetBreak(int fd, bool on)
{
    int e = RetryEintr([&] { return ::ioctl(fd, on ? TIOCSBRK : TIOCCBRK); }) == 0 ? 0 : errno;
    return NotSupported(e) ? 0 : e;
}

int GetModemStatus(int fd, uint32_t& status, bool* supported)
{
    int bits = 0;
    status = 0;
    int e = Ioctl(fd, TIOCMGET, &bits);
    if (e && NotSupported(e) && supported)
        *supported = false;
    if (e)
        return NotSupported(e) ? 0 : e;
    if (bits & TIOCM_CTS)
        status |= 0x10;
    if (bits & TIOCM_DSR)
        status |= 0x20;
    if (bits & TIOCM_RI)
        status |= 0x40;
    if (bits & TIOCM_CD)
        status |= 0x80;
    return 0;
}

int GetErrorCounters(int fd, ErrorCounters& c)
{
    struct serial_icounter_struct k {};
    c = ErrorCounters{};
    int e = Ioctl(fd, TIOCGICOUNT, &k);
    if (e)
        return NotSupported(e) ? 0 : e;
    c.Valid = true;
    c.Frame = uint32_t(k.frame);
    c.Overrun = uint32_t(k.overrun);
    c.Parity = uint32_t(k.parity);
    c.Brk = uint32_t(k.brk);
    c.BufOverrun = uint32_t(k.buf_overrun);
    return 0;
}

uint32_t ErrorWord(const ErrorCounters& before, const ErrorCounters& now)
{
    if (!before.Valid || !now.Valid)
        return 0;
    uint32_t word = 0;
    if (now.BufOverrun != before.BufOverrun)
        word |= 0x01;
    if (now.Overrun != before.Overrun)
        word |= 0x02;
    if (now.Parity != before.Parity)
        word |= 0x04;
    if (now.Frame != before.Frame)
        word |= 0x08;
    if (now.Brk != before.Brk)
        word |= 0x10;
    return word;
}

int QueueCounts(int fd, uint32_t& inQueue, uint32_t& outQueue)
{
    int in = 0, out = 0;
    if (int e = Ioctl(fd, FIONREAD, &in))
        return e;
    if (int e = Ioctl(fd, TIOCOUTQ, &out))
        return e;
    inQueue = uint32_t(in);
    outQueue = uint32_t(out);
    return 0;
}

int Purge(int fd)
{
    return RetryEintr([&] { return ::ioctl(fd, TCFLSH, TCIOFLUSH); }) == 0 ? 0 : errno;
}

int CheckHandle(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) != -1 ? 0 : EBADF; }

IoResult Read(int fd, void* buffer, size_t count)
{
    ssize_t n = RetryEintr([&] { return ::read(fd, buffer, count); });
    if (n > 0 || (n == 0 && count == 0))
        return {IoStatus::Data, size_t(n), 0};
    if (n == 0)
        return {IoStatus::HangUp, 0, EIO};
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return {IoStatus::WouldBlock, 0, errno};
    if (errno == EIO)
        return {IoStatus::HangUp, 0, EIO};
    return {IoStatus::Failed, 0, errno};
}

IoResult Write(int fd, const void* buffer, size_t count)
{
    ssize_t n = RetryEintr([&] { return ::write(fd, buffer, count); });
    if (n >= 0)
        return {IoStatus::Data, size_t(n), 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return {IoStatus::WouldBlock, 0, errno};
    if (errno == EIO)
        return {IoStatus::HangUp, 0, EIO};
    return {IoStatus::Failed, 0, errno};
}

WaitResult Wait(int fd, bool forInput, bool forOutput, int wakeFd, int timeoutMs)
{
    struct pollfd p[2] = {};
    nfds_t n = 0;
    p[n++] = {wakeFd, POLLIN, 0};
    if (fd >= 0)
        p[n++] = {fd, short((forInput ? POLLIN : 0) | (forOutput ? POLLOUT : 0)), 0};
    WaitResult r;
    // Not retried on EINTR: the caller's pass simply ends a little early.
    if (::poll(p, n, timeoutMs) < 0) {
        if (errno != EINTR)
            r.Error = errno;
        return r;
    }
    r.Woken = p[0].revents & POLLIN;
    if (n > 1) {
        r.Readable = p[1].revents & POLLIN;
        r.Writable = p[1].revents & POLLOUT;
        r.HangUp = p[1].revents & (POLLHUP | POLLERR | POLLNVAL);
    }
    return r;
}

int (*MakeEventFd)() = nullptr;

int CreateWake(int& wakeFd)
{
    wakeFd = MakeEventFd ? MakeEventFd() : ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd >= 0)
        return 0;
    const int e = errno ? errno : EMFILE;
    wakeFd = -1;
    return e;
}

void SignalWake(int wakeFd)
{
    uint64_t one = 1;
    if (wakeFd >= 0)
        RetryEintr([&] { return ::write(wakeFd, &one, sizeof one); });
}

void DrainWake(int wakeFd)
{
    uint64_t value;
    if (wakeFd >= 0)
        RetryEintr([&] { return ::read(wakeFd, &value, sizeof value); });
}

void CloseWake(int wakeFd)
{
    if (wakeFd >= 0)
        ::close(wakeFd);
}

}  // namespace SerialDevice
