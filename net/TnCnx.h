#pragma once
// TTnCnx: a telnet client connection. It owns one TWSocket, answers the
// server's option negotiation, strips telnet commands from what it receives
// and sends the owner's bytes unchanged.
#include "net/TelnetParser.h"
#include "net/WSocket.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>

class QTimer;

class TTnCnx;

using TTnSessionEvent = std::function<void(TTnCnx* Sender, uint16_t Error)>;
using TTnDataAvailableEvent = std::function<void(TTnCnx* Sender, const char* Buffer, int Len)>;
using TTnDisplayEvent = std::function<void(TTnCnx* Sender, const std::string& Str)>;
using TTnNotifyEvent = std::function<void(TTnCnx* Sender)>;

class TTnCnx {
public:
    static constexpr int kReceiveSize = 2048;

    TTnCnx();
    ~TTnCnx();
    TTnCnx(const TTnCnx&) = delete;
    TTnCnx& operator=(const TTnCnx&) = delete;

    std::string Port() const { return port_; }
    void SetPort(const std::string& value) { port_ = value; }
    std::string Host() const { return host_; }
    void SetHost(const std::string& value) { host_ = value; }
    std::string Location() const { return parser_.Location(); }
    void SetLocation(const std::string& value) { parser_.SetLocation(value); }
    std::string TermType() const { return parser_.TermType(); }
    void SetTermType(const std::string& value) { parser_.SetTermType(value); }
    bool LocalEcho() const { return parser_.LocalEcho(); }
    void SetLocalEcho(bool value) { parser_.SetLocalEcho(value); }

    void Connect();
    void Close();
    TSocketState State() const;
    int Send(const void* data, int len);
    // The bytes go out as they are; see TelnetEscapeIAC for data holding 255.
    int SendString(const std::string& text);
    // Bytes accepted by Send and not yet taken by the system, answers included.
    size_t BufferedByteCount() const;
    // While more than this waits to be sent, nothing is read from the server:
    // a server that does not read its answers meets its own full window. 0: no limit.
    void SetSendQueueLimit(size_t bytes) { sendQueueLimit_ = bytes; }
    // At most this many bytes are read from the server a second. 0: no limit.
    void SetReceiveRateLimit(size_t bytesPerSecond);
    TWSocket* Socket() { return socket_.get(); }

    TTnSessionEvent OnSessionConnected;
    TTnSessionEvent OnSessionClosed;
    TTnDataAvailableEvent OnDataAvailable;
    TTnDisplayEvent OnDisplay;
    TTnNotifyEvent OnEndOfRecord;
    TTnNotifyEvent OnSendLoc;
    TTnNotifyEvent OnTermType;
    TTnNotifyEvent OnLocalEcho;

private:
    void SocketSessionConnected(uint16_t error);
    void SocketSessionClosed(uint16_t error);
    void SocketDataAvailable();
    void ParserEvent(const TTelnetEvent& event);
    void AddToBuffer(std::string_view bytes);
    void DeliverBuffer();
    void Display(const std::string& text);
    // The answers of one read go out together, before anything the owner hears of.
    void FlushReplies();
    // False when the send queue is over its limit or the read allowance is spent.
    bool MayReceive();
    void ResumeIfAllowed();

    std::unique_ptr<TWSocket> socket_;
    TTelnetParser parser_;
    std::string port_ = "23";
    std::string host_;
    std::array<char, kReceiveSize + 1> buffer_{};
    int count_ = 0;
    std::string replies_;
    size_t sendQueueLimit_ = 0;
    size_t rateLimit_ = 0;
    double allowance_ = 0;  // bytes that may still be read now
    std::chrono::steady_clock::time_point allowanceTime_;
    std::unique_ptr<QTimer> rateTimer_;  // resumes reading once the allowance has grown
};
