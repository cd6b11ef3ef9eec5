#pragma once
// TWSocket: a non-blocking TCP/IPv4 socket driven by the main thread's event
// loop. Readiness becomes the events below; errors are reported through OnError
// when assigned, otherwise raised as ESocketException. An exception escaping
// one of its event handlers aborts the socket.
#include "net/SocketApi.h"
#include "net/WSockBuf.h"
#include "net/WSocketErrors.h"
#include "net/WSocketResolve.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class TWSocket;

namespace SockApi {
class TSocketWatcher;
}

enum TSocketState : uint8_t {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsConnected = 4,
    wsAccepting = 5,
    wsListening = 6,
    wsClosed = 7,
};

enum TSocketLingerOnOff : uint8_t { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };
enum TSocketSendFlags : uint8_t { wsSendNormal = 0, wsSendUrgent = 1 };
enum TWSocketOption : uint8_t { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2 };
using TWSocketOptions = uint8_t;

using TSocketHandle = SockApi::Handle;
constexpr TSocketHandle INVALID_SOCKET = SockApi::kInvalidHandle;

using TSessionEvent = std::function<void(TWSocket* Sender, uint16_t Error)>;
using TSendDataEvent = std::function<void(TWSocket* Sender, int BytesSent)>;
using TChangeStateEvent = std::function<void(TWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketNotifyEvent = std::function<void(TWSocket* Sender)>;
using TBgExceptionEvent = std::function<void(TWSocket* Sender, const std::exception& E, bool& CanClose)>;

class TWSocket {
public:
    static constexpr int kBlockSize = 1460;

    TWSocket();
    ~TWSocket();
    TWSocket(const TWSocket&) = delete;
    TWSocket& operator=(const TWSocket&) = delete;

    // --- properties ---
    std::string Addr() const { return addr_; }
    void SetAddr(const std::string& value);
    std::string Port() const { return port_; }
    void SetPort(const std::string& value);
    std::string Proto() const { return proto_; }
    void SetProto(const std::string& value);
    std::string LocalAddr() const { return localAddr_; }
    void SetLocalAddr(const std::string& value);
    std::string LocalPort() const { return localPort_; }
    void SetLocalPort(const std::string& value);
    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool value) { multiThreaded_ = value; }
    bool ReuseAddr() const { return reuseAddr_; }
    void SetReuseAddr(bool value) { reuseAddr_ = value; }
    TWSocketOptions ComponentOptions() const { return componentOptions_; }
    void SetComponentOptions(TWSocketOptions value) { componentOptions_ = value; }
    int FlushTimeout() const { return flushTimeout_; }
    void SetFlushTimeout(int value) { flushTimeout_ = value; }
    TSocketSendFlags SendFlags() const { return sendFlags_; }
    void SetSendFlags(TSocketSendFlags value);
    TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
    void SetLingerOnOff(TSocketLingerOnOff value) { lingerOnOff_ = value; }
    int LingerTimeout() const { return lingerTimeout_; }
    void SetLingerTimeout(int value) { lingerTimeout_ = value; }

    TSocketState State() const { return state_; }
    uint32_t ReadCount() const { return readCount_; }
    // Bytes waiting to be received; -1 without a connection.
    int RcvdCount() const;
    int LastError() const { return lastError_; }
    std::string PeerAddr() const;
    std::string PeerPort() const;
    // The local address and port of the handle (a listener on port 0 learns its port).
    std::string GetXAddr() const;
    std::string GetXPort() const;
    TSocketHandle HSocket() const { return handle_; }
    bool AllSent() const { return allSent_; }
    // Bytes accepted by Send and not yet taken by the system.
    size_t BufferedByteCount() const;

    // --- operations ---
    void Listen();
    TSocketHandle Accept();
    void Dup(TSocketHandle handle);
    void Connect();
    int Send(const void* data, int len);
    int SendString(const std::string& text);
    int Receive(void* buffer, int size);
    std::string ReceiveString();
    void Close();
    void Abort();
    void Shutdown(int how);
    // No read, accept or close events until resumed: a peer that keeps sending
    // meets the kernel's window. Sending goes on. Resuming reports what waits,
    // also to a handler that read nothing before. A new connection or Listen
    // starts resumed.
    void PauseReceive();
    void ResumeReceive();
    bool ReceivePaused() const;
    // TCP keep-alive on the connection: a peer that vanished without a word is
    // found after idle + interval x probes seconds and the session closes.
    void EnableKeepAlive(int idleSeconds, int intervalSeconds, int probes);

    // --- events ---
    TSessionEvent OnSessionAvailable;
    TSessionEvent OnSessionConnected;
    TSessionEvent OnSessionClosed;
    TSessionEvent OnDataAvailable;
    TSessionEvent OnDataSent;
    TSendDataEvent OnSendData;
    TChangeStateEvent OnChangeState;
    TSocketNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

private:
    void Dispatch(unsigned events, int error);
    bool RunHandler(const std::function<void()>& call, const std::weak_ptr<char>& life, uint64_t serial);
    bool StillCurrent(const std::weak_ptr<char>& life, uint64_t serial) const;
    bool ReceiveLoop(int error, bool closing, const std::weak_ptr<char>& life, uint64_t serial);
    bool FlushClosedPending(const std::weak_ptr<char>& life);
    bool FlushClosedPendingSafely(const std::weak_ptr<char>& life);
    void HandleBackgroundException(const std::exception& e);
    void NotifyClosed(int error);
    void ChangeState(TSocketState state);
    void TryToSend();
    void InternalClose(bool shut, int error);
    void CloseHandleNow();
    void RestoreDefaults();
    void DiscardSendQueue();
    bool SetLingerOption();
    void SocketError(const std::string& operation);
    void RaiseException(const std::string& text);
    bool CanChange(const char* name);
    // Stores a trimmed setting; false when it is unchanged.
    bool Assign(std::string& field, bool& assigned, const std::string& value, const char* name);

    std::unique_ptr<SockApi::TSocketWatcher> watcher_;
    std::shared_ptr<char> life_ = std::make_shared<char>();
    TSocketHandle handle_ = INVALID_SOCKET;
    uint64_t serial_ = 0;  // changes with every handle adopted or closed
    TSocketState state_ = wsClosed;
    int lastError_ = 0;
    uint32_t readCount_ = 0;

    std::string addr_, port_, proto_ = "tcp";
    bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
    bool addrResolved_ = false, portResolved_ = false, protoResolved_ = false;
    std::string localAddr_ = "0.0.0.0", localPort_ = "0";
    bool localPortResolved_ = false;
    uint32_t sinAddr_ = 0;
    uint16_t sinPort_ = 0;
    uint16_t localSinPort_ = 0;
    uint32_t localSinAddr_ = 0;
    int protocol_ = 6;

    TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
    int lingerTimeout_ = 0;
    std::deque<TBuffer> sendQueue_;
    bool allSent_ = true;
    bool closeInvoked_ = false;
    bool destroying_ = false;
    TWSocketOptions componentOptions_ = 0;
    TSocketSendFlags sendFlags_ = wsSendNormal;
    bool reuseAddr_ = false;
    bool multiThreaded_ = false;
    int flushTimeout_ = 60;

    // Inside one of this socket's handlers: a session-closed notification
    // raised by an operation waits until the handler has returned.
    bool inHandler_ = false;
    bool closedPending_ = false;
    int closedPendingError_ = 0;
};
