#pragma once
// The serial device calls of the port component, on POSIX/Linux. Every
// function that can fail returns 0 or an errno value; nothing here throws.
#include <cstddef>
#include <cstdint>
#include <string>

namespace SerialDevice {

// Line settings as the component's properties hold them.
struct LineSettings {
    uint32_t BaudRate = 9600;
    uint8_t DataBits = 8;
    uint8_t ParityType = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0;     // 0 one, 1 one and a half, 2 two
    int32_t FlowControl = 0;  // flag word bits of the component
    bool ParityErrorReplacement = false;
    char XONChar = 17;
    char XOFFChar = 19;
    uint8_t WakeCount = 1;  // bytes that must wait before poll() reports input
};

// Same layout as the kernel's struct termios2, so the settings logic can be
// checked without a device and without the kernel header.
struct TermiosImage {
    uint32_t c_iflag = 0, c_oflag = 0, c_cflag = 0, c_lflag = 0;
    uint8_t c_line = 0;
    uint8_t c_cc[19] = {};
    uint32_t c_ispeed = 0, c_ospeed = 0;
};
constexpr uint32_t kCbaud = 0010017;
constexpr uint32_t kBother = 0010000;

// Fills the raw-mode image for the settings; EINVAL for a value the line cannot take.
int FillTermios(TermiosImage& t, const LineSettings& s);
// Whether the device took what was asked (a real UART may round the speed a little).
bool TermiosTook(const TermiosImage& asked, const TermiosImage& got);
// Whether the device marks input that came with an error (PARMRK).
bool MarksErrors(const TermiosImage& t);

// Marked input reads a byte that came with a parity or framing error as
// 255 0 byte, a break as 255 0 0, and a 255 as 255 255. This gives the bytes
// back as they came; a mark cut off at the end of one read is finished by the next.
class TErrorMarkDecoder {
public:
    std::string Decode(const std::string& marked);
    // What the last read left unfinished, as received; for when marking stops.
    std::string TakeHeld();
    void Reset() { held_ = Held::Nothing; }

private:
    enum class Held { Nothing, Escape, Marked };
    Held held_ = Held::Nothing;
};

// "ttyS0" -> "/dev/ttyS0"; a name with '/' is a path. Only the first 79 characters count.
std::string DevicePath(const std::string& commPort);

int Open(const std::string& path, int& fd);
int Close(int fd);
int GetTermios(int fd, TermiosImage& t);
int SetTermios(int fd, const TermiosImage& t);

enum class Line { Rts, Dtr };
int SetLine(int fd, Line line, bool on);
int SetBreak(int fd, bool on);
// Modem status in the component's bits: 0x10 CTS, 0x20 DSR, 0x40 ring, 0x80 carrier.
// A device without modem lines (a pty) gives 0 and, when asked, says so in supported.
int GetModemStatus(int fd, uint32_t& status, bool* supported = nullptr);

// The kernel's running error counters; Valid is false where the device has none.
struct ErrorCounters {
    bool Valid = false;
    uint32_t Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
};
int GetErrorCounters(int fd, ErrorCounters& c);
// Line-error word (0x01 queue overflow, 0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break)
// from the growth of the counters.
uint32_t ErrorWord(const ErrorCounters& before, const ErrorCounters& now);

int QueueCounts(int fd, uint32_t& inQueue, uint32_t& outQueue);
int Purge(int fd);
int CheckHandle(int fd);

enum class IoStatus { Data, WouldBlock, HangUp, Failed };
struct IoResult {
    IoStatus Status;
    size_t Count;
    int Error;
};
// read()==0 and EIO are a hang-up.
IoResult Read(int fd, void* buffer, size_t count);
IoResult Write(int fd, const void* buffer, size_t count);

struct WaitResult {
    int Error = 0;       // poll() failed
    bool Woken = false;  // the wake handle was signalled
    bool Readable = false, Writable = false, HangUp = false;
};
// Waits at most timeoutMs for the device (input and/or output room) or the wake handle.
WaitResult Wait(int fd, bool forInput, bool forOutput, int wakeFd, int timeoutMs);

// 0, or the errno of the failure with wakeFd -1.
int CreateWake(int& wakeFd);
// Stands in for eventfd() in CreateWake when set (-1 and errno on failure), so
// that tests can make it fail; nullptr: eventfd().
extern int (*MakeEventFd)();
void SignalWake(int wakeFd);
void DrainWake(int wakeFd);
void CloseWake(int wakeFd);

}  // namespace SerialDevice
