#include "core/InstanceBeacon.h"

#include "support/SysCall.h"

#include <QSocketNotifier>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kAnswer = '!';
constexpr int kAnswerWaitMs = 2000;

// An abstract socket address: no file, gone with the process.
socklen_t AddressOf(const std::string& name, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace

std::string InstanceBeaconName() { return "morvel-pbx-" + std::to_string(::getuid()); }

bool KnockOnRunningInstance(const std::string& name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address;
    const socklen_t length = AddressOf(name, address);
    bool answered = false;
    if (RetryEintr([&] { return ::connect(fd, reinterpret_cast<sockaddr*>(&address), length); }) == 0) {
        pollfd wait{fd, POLLIN, 0};
        char reply = 0;
        answered = RetryEintr([&] { return ::poll(&wait, 1, kAnswerWaitMs); }) == 1 &&
                   RetryEintr([&] { return ::read(fd, &reply, 1); }) == 1 && reply == kAnswer;
    }
    ::close(fd);
    return answered;
}

TInstanceBeacon::TInstanceBeacon(const std::string& name, std::function<void()> onKnock, QObject* parent)
    : QObject(parent), onKnock_(std::move(onKnock))
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_un address;
    const socklen_t length = AddressOf(name, address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TInstanceBeacon::Answer);
}

TInstanceBeacon::~TInstanceBeacon()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void TInstanceBeacon::Answer()
{
    for (;;) {
        const int peer = RetryEintr([&] { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); });
        if (peer < 0)
            return;
        const char answer = kAnswer;
        [[maybe_unused]] const ssize_t sent = ::send(peer, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(peer);
        if (onKnock_)
            onKnock_();
    }
}
