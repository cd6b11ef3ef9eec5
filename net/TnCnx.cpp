#include "net/TnCnx.h"

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The allowance can grow to a sixteenth of a second's worth.
constexpr double kAllowanceSeconds = 1.0 / 16;

}  // namespace

TTnCnx::TTnCnx()
    : socket_(std::make_unique<TWSocket>()),
      parser_([this](const TTelnetEvent& event) { ParserEvent(event); }),
      rateTimer_(std::make_unique<QTimer>())
{
    socket_->OnSessionConnected = [this](TWSocket*, uint16_t error) { SocketSessionConnected(error); };
    socket_->OnSessionClosed = [this](TWSocket*, uint16_t error) { SocketSessionClosed(error); };
    socket_->OnDataAvailable = [this](TWSocket*, uint16_t) { SocketDataAvailable(); };
    socket_->OnSendData = [this](TWSocket*, int) { ResumeIfAllowed(); };
    rateTimer_->setSingleShot(true);
    QObject::connect(rateTimer_.get(), &QTimer::timeout, [this] { ResumeIfAllowed(); });
}

TTnCnx::~TTnCnx() = default;

void TTnCnx::SetReceiveRateLimit(size_t bytesPerSecond)
{
    rateLimit_ = bytesPerSecond;
    allowance_ = double(bytesPerSecond) * kAllowanceSeconds;
    allowanceTime_ = std::chrono::steady_clock::now();
}

bool TTnCnx::MayReceive()
{
    if (sendQueueLimit_ != 0 && socket_->BufferedByteCount() > sendQueueLimit_)
        return false;  // the queue's draining resumes reading (OnSendData)
    if (rateLimit_ == 0)
        return true;
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - allowanceTime_).count();
    allowanceTime_ = now;
    allowance_ = std::min(allowance_ + seconds * double(rateLimit_), double(rateLimit_) * kAllowanceSeconds);
    if (allowance_ > 0)
        return true;
    if (!rateTimer_->isActive())
        rateTimer_->start(std::max(1, int(std::ceil(-allowance_ * 1000 / double(rateLimit_)))));
    return false;
}

void TTnCnx::ResumeIfAllowed()
{
    if (socket_->ReceivePaused() && MayReceive())
        socket_->ResumeReceive();
}

void TTnCnx::FlushReplies()
{
    if (replies_.empty())
        return;
    std::string out;
    out.swap(replies_);
    socket_->Send(out.data(), int(out.size()));
}

void TTnCnx::Connect()
{
    if (socket_->State() != wsClosed)
        socket_->Close();
    // A command cut off with the previous connection must not swallow the
    // first bytes of this one.
    parser_.Reset();
    count_ = 0;
    replies_.clear();
    rateTimer_->stop();
    if (rateLimit_ != 0)
        SetReceiveRateLimit(rateLimit_);
    socket_->SetProto("tcp");
    socket_->SetPort(port_);
    socket_->SetAddr(host_);
    socket_->Connect();
}

void TTnCnx::Close() { socket_->Close(); }

TSocketState TTnCnx::State() const { return socket_->State(); }

int TTnCnx::Send(const void* data, int len) { return socket_->Send(data, len); }

int TTnCnx::SendString(const std::string& text) { return Send(text.data(), int(text.size())); }

size_t TTnCnx::BufferedByteCount() const { return socket_->BufferedByteCount(); }

void TTnCnx::SocketSessionConnected(uint16_t error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TTnCnx::SocketSessionClosed(uint16_t error)
{
    if (socket_->State() != wsClosed)
        socket_->Close();
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TTnCnx::SocketDataAvailable()
{
    if (!MayReceive()) {
        socket_->PauseReceive();
        return;
    }
    char data[kReceiveSize];
    int n = socket_->Receive(data, kReceiveSize);
    if (n == 0) {
        Display("\r\n**** Remote has closed ****\r\n");
        return;
    }
    if (n < 0) {
        if (socket_->LastError() != SockApi::ErrWouldBlock)
            Display("\r\n**** ERROR: " + std::to_string(socket_->LastError()) + " ****\r\n");
        return;
    }
    allowance_ -= n;
    parser_.Feed(std::string_view(data, size_t(n)));
    FlushReplies();
    DeliverBuffer();
}

void TTnCnx::ParserEvent(const TTelnetEvent& event)
{
    switch (event.type) {
    case TTelnetEvent::Data:
        AddToBuffer(event.bytes);
        break;
    case TTelnetEvent::Send:
        replies_.append(event.bytes);
        break;
    case TTelnetEvent::EndOfRecord:
        FlushReplies();
        if (OnEndOfRecord)
            OnEndOfRecord(this);
        break;
    case TTelnetEvent::LocalEcho:
        FlushReplies();
        if (OnLocalEcho)
            OnLocalEcho(this);
        break;
    case TTelnetEvent::SendLocation:
        FlushReplies();
        if (OnSendLoc)
            OnSendLoc(this);
        break;
    case TTelnetEvent::TermType:
        FlushReplies();
        if (OnTermType)
            OnTermType(this);
        break;
    case TTelnetEvent::Negotiation:
    case TTelnetEvent::Subnegotiation:
    case TTelnetEvent::Command:
        break;
    }
}

void TTnCnx::AddToBuffer(std::string_view bytes)
{
    while (!bytes.empty()) {
        size_t room = buffer_.size() - size_t(count_);
        size_t n = std::min(room, bytes.size());
        std::memcpy(buffer_.data() + count_, bytes.data(), n);
        count_ += int(n);
        bytes.remove_prefix(n);
        if (count_ > kReceiveSize)
            DeliverBuffer();
    }
}

void TTnCnx::DeliverBuffer()
{
    if (count_ == 0)
        return;
    int len = count_;
    count_ = 0;
    if (!OnDataAvailable)
        return;
    FlushReplies();
    // The handler gets its own NUL-terminated copy, so it may feed more data.
    std::string block(buffer_.data(), size_t(len));
    OnDataAvailable(this, block.data(), len);
}

void TTnCnx::Display(const std::string& text)
{
    if (OnDisplay)
        OnDisplay(this, text);
}
