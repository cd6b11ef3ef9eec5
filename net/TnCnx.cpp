#include "net/TnCnx.h"

#include <algorithm>
#include <cstring>

TTnCnx::TTnCnx()
    : socket_(std::make_unique<TWSocket>()), parser_([this](const TTelnetEvent& event) { ParserEvent(event); })
{
    socket_->OnSessionConnected = [this](TWSocket*, uint16_t error) { SocketSessionConnected(error); };
    socket_->OnSessionClosed = [this](TWSocket*, uint16_t error) { SocketSessionClosed(error); };
    socket_->OnDataAvailable = [this](TWSocket*, uint16_t) { SocketDataAvailable(); };
}

TTnCnx::~TTnCnx() = default;

void TTnCnx::Connect()
{
    if (socket_->State() != wsClosed)
        socket_->Close();
    // A command cut off with the previous connection must not swallow the
    // first bytes of this one.
    parser_.Reset();
    count_ = 0;
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
    parser_.Feed(std::string_view(data, size_t(n)));
    DeliverBuffer();
}

void TTnCnx::ParserEvent(const TTelnetEvent& event)
{
    switch (event.type) {
    case TTelnetEvent::Data:
        AddToBuffer(event.bytes);
        break;
    case TTelnetEvent::Send:
        socket_->Send(event.bytes.data(), int(event.bytes.size()));
        break;
    case TTelnetEvent::EndOfRecord:
        if (OnEndOfRecord)
            OnEndOfRecord(this);
        break;
    case TTelnetEvent::LocalEcho:
        if (OnLocalEcho)
            OnLocalEcho(this);
        break;
    case TTelnetEvent::SendLocation:
        if (OnSendLoc)
            OnSendLoc(this);
        break;
    case TTelnetEvent::TermType:
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
    // The handler gets its own NUL-terminated copy, so it may feed more data.
    std::string block(buffer_.data(), size_t(len));
    OnDataAvailable(this, block.data(), len);
}

void TTnCnx::Display(const std::string& text)
{
    if (OnDisplay)
        OnDisplay(this, text);
}
