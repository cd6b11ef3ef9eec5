// The remote access service: one TCP session at a time, admitted by password,
// with full access (its input goes to the PBX) or as a viewer.
#include "app/Unit1.h"

#include "net/TnCnx.h"
#include "net/WSocket.h"
#include "serial/SerialNG.h"
#include "support/CodePage.h"
#include "support/MyUtils.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <cerrno>

namespace {

constexpr int kRefusalPauseMs = 600;
// Without a carriage return by then, the attempt counts as a wrong password.
constexpr size_t kLoginTextLimit = 256;
// A client that stops reading is dropped rather than buffered for without end.
constexpr size_t kClientQueueLimit = 1024 * 1024;

void SetFormSettings(TWSocket& socket)
{
    socket.SetAddr("127.0.0.1");
    socket.SetPort("2323");
    socket.SetProto("tcp");
    socket.SetLocalAddr("0.0.0.0");
    socket.SetLocalPort("0");
    socket.SetLingerOnOff(wsLingerOn);
    socket.SetLingerTimeout(0);
    socket.SetFlushTimeout(60);
}

// Ends a connection so that the text just sent reaches the client. The form's
// zero linger makes Close send a reset, which lets the client's system throw
// away text it has not handed to the client yet; Abort switches linger off, so
// the system sends what is queued and then an orderly end. Unread input would
// turn that end into a reset too, so it is read first.
void EndAfterText(TWSocket& socket)
{
    while (socket.State() == wsConnected && socket.RcvdCount() > 0 && !socket.ReceiveString().empty()) {
    }
    socket.Abort();
}

// Errors of the one connection being accepted (it was given up, or a network
// error was pending on it): the listener itself is fine, the next accept may work.
bool IsConnectionAcceptError(int code)
{
    switch (code) {
    case SockApi::ErrWouldBlock:
    case SockApi::ErrConnAborted:
    case 10042:  // protocol option
    case 10045:  // operation not supported
    case 10050:  // network down
    case 10051:  // network unreachable
    case 10064:  // host down
    case 10065:  // no route to host
    case EPROTO:
        return true;
    default:
        return false;
    }
}

}  // namespace

void TForm1::WireNetwork()
{
    WSvr = std::make_unique<TWSocket>();
    WCli = std::make_unique<TWSocket>();
    WTmp = std::make_unique<TWSocket>();
    for (TWSocket* socket : {WSvr.get(), WCli.get(), WTmp.get()})
        SetFormSettings(*socket);
    WSvr->OnSessionAvailable = [this](TWSocket*, uint16_t) { WSvrSessionAvailable(); };
    WCli->OnDataAvailable = [this](TWSocket*, uint16_t) { WCliDataAvailable(); };
    WCli->OnSessionClosed = [this](TWSocket*, uint16_t) { WCliSessionClosed(); };

    TnCnx = std::make_unique<TTnCnx>();
    TnCnx->SetHost("127.0.0.1");
    TnCnx->SetPort("23");
    TnCnx->SetTermType("VT100");
    TnCnx->SetLocation("TNCNX");
    TnCnx->SetLocalEcho(false);

    // A refused client stays connected for a moment, so that a new one still
    // gets "Busy" and a password guesser is slowed, without blocking the window.
    refusalTimer_ = new QTimer(this);
    refusalTimer_->setSingleShot(true);
    refusalTimer_->setInterval(kRefusalPauseMs);
    connect(refusalTimer_, &QTimer::timeout, this, [this] {
        if (WCli->State() == wsConnected)
            EndAfterText(*WCli);
    });
}

namespace {

void ListenOn(TWSocket& server, const QLineEdit& address, const QLineEdit& port)
{
    const std::string addressText = CodePage::ToBytes(address.text());
    const std::string portText = CodePage::ToBytes(port.text());
    server.SetAddr(IsDottedQuad(addressText) ? addressText : "127.0.0.1");
    server.SetPort(HexDigitsOf(portText).empty() ? "2323" : portText);
    server.Listen();
}

}  // namespace

void TForm1::StartRemoteAccess()
{
    RemoteAuthorised = false;
    RemoteFullAccess = false;
    RemoteLoginText.clear();
    if (CBoxEnDi->isChecked())
        ListenOn(*WSvr, *EipAddRA, *EportRA);
}

void TForm1::ApplyRemoteAccess()
{
    if (CBoxEnDi->isChecked()) {
        if (WSvr->State() != wsClosed)
            WSvr->Close();
        ListenOn(*WSvr, *EipAddRA, *EportRA);
        return;
    }
    StopRemoteAccess();
}

void TForm1::StopRemoteAccess()
{
    if (WSvr->State() != wsClosed)
        WSvr->Close();
    if (WCli->State() != wsClosed)
        WCli->Close();
}

void TForm1::RemoteRelay(const std::string& text)
{
    if (!CBoxEnDi->isChecked() || WCli->State() != wsConnected || !RemoteAuthorised)
        return;
    try {
        WCli->SendString(text);
        if (WCli->State() == wsConnected && WCli->BufferedByteCount() > kClientQueueLimit)
            WCli->Close();  // the capture file keeps everything the client missed
    } catch (const std::exception&) {
        // A failing session must not cost the display or the capture this cluster.
        try {
            WCli->Abort();
        } catch (const std::exception&) {
        }
    }
}

void TForm1::WSvrSessionAvailable()
{
    TSocketHandle h = INVALID_SOCKET;
    try {
        h = WSvr->Accept();
    } catch (const ESocketException&) {
        if (IsConnectionAcceptError(WSvr->LastError()))
            return;
        throw;
    }
    if (WCli->State() == wsConnected) {
        WTmp->Dup(h);
        WTmp->SendString("Busy ! Try later...\r\n");
        EndAfterText(*WTmp);
        return;
    }
    refusalTimer_->stop();
    WCli->Dup(h);
    WCli->SendString("\r\nWelcome to Morvel PBX.\r\n");
    WCli->SendString("Enter password:");
    RemoteAuthorised = false;
    RemoteFullAccess = false;
    RemoteLoginText.clear();
}

void TForm1::WCliDataAvailable()
{
    const std::string text = WCli->ReceiveString();
    if (text.empty())
        return;
    if (RemoteAuthorised) {
        if (RemoteFullAccess)
            SerialPortNG1->SendText(text);
        return;
    }
    if (refusalTimer_->isActive())
        return;  // the one attempt is spent; the connection ends shortly
    RemoteLoginText += text;
    const size_t cr = RemoteLoginText.find('\r');
    if (cr == std::string::npos || cr >= kLoginTextLimit) {
        if (RemoteLoginText.size() < kLoginTextLimit)
            return;
    } else {
        const std::string candidate = RemoteLoginText.substr(0, cr);
        if (candidate == CodePage::ToBytes(EpassRA->text())) {
            RemoteAuthorised = true;
            RemoteFullAccess = true;
            WCli->SendString("\r\nYou have Full Access to PBX.\r\n");
            return;
        }
        if (candidate == CodePage::ToBytes(EpassRAviewer->text())) {
            RemoteAuthorised = true;
            RemoteFullAccess = false;
            WCli->SendString("\r\nYou have Access as Viewer to PBX.\r\n");
            return;
        }
    }
    WCli->SendString("\r\nWrong Password. Access denied.\r\n");
    refusalTimer_->start();
}

void TForm1::WCliSessionClosed()
{
    RemoteAuthorised = false;
    RemoteFullAccess = false;
    refusalTimer_->stop();
}
