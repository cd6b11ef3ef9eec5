// NMS forwarding: a copy of all PBX output to a management host over telnet,
// kept while the link is down and sent ahead of the next output once it is up.
#include "app/Unit1.h"

#include "net/TnCnx.h"
#include "support/CodePage.h"
#include "support/Dialogs.h"
#include "support/MyUtils.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <cstdlib>

namespace {

constexpr qint64 kRetryMs = 7000;
constexpr size_t kPendingLimit = 16u * 1024 * 1024;
// Dropping a megabyte at a time keeps a flood from moving 16 MiB per cluster.
constexpr size_t kPendingDropStep = 1024 * 1024;
// More than this waiting in the link's own queue means the host has stopped
// reading: new output is kept (and bounded) here instead.
constexpr size_t kLinkQueueLimit = 1024 * 1024;

void ApplyHostAndPort(TTnCnx& cnx, const QLineEdit& host, const QLineEdit& port)
{
    const std::string hostText = CodePage::ToBytes(host.text());
    const std::string portText = CodePage::ToBytes(port.text());
    if (IsDottedQuad(hostText))
        cnx.SetHost(hostText);
    if (!HexDigitsOf(portText).empty())
        cnx.SetPort(portText);
}

void Keep(std::string& pending, const std::string& text, uint64_t& dropped)
{
    pending += text;
    if (pending.size() <= kPendingLimit)
        return;
    const size_t drop = pending.size() - (kPendingLimit - kPendingDropStep);
    pending.erase(0, drop);
    dropped += drop;
}

void ConnectReporting(TTnCnx& cnx, bool& problemShown)
{
    try {
        cnx.Connect();
    } catch (const std::exception&) {
        // The caller's report shows it; the forwarding step need not repeat it.
        problemShown = true;
        throw;
    }
}

}  // namespace

void TForm1::StartNms()
{
    nmsProblemShown_ = false;
    if (!CBoxTrap->isChecked())
        return;
    ApplyHostAndPort(*TnCnx, *EipTrap, *EportTrap);
    ConnectReporting(*TnCnx, nmsProblemShown_);
    NmsLastAttempt = options_.Now();
}

void TForm1::ApplyNms()
{
    nmsProblemShown_ = false;
    if (!CBoxTrap->isChecked()) {
        StopNms();
        return;
    }
    if (TnCnx->State() != wsClosed)
        TnCnx->Close();
    ApplyHostAndPort(*TnCnx, *EipTrap, *EportTrap);
    ConnectReporting(*TnCnx, nmsProblemShown_);
    NmsLastAttempt = options_.Now();
    NmsPending.clear();
    nmsDropped_ = 0;
}

void TForm1::StopNms()
{
    if (TnCnx->State() != wsClosed)
        TnCnx->Close();
}

void TForm1::NmsForward(const std::string& text)
{
    if (!CBoxTrap->isChecked())
        return;
    try {
        if (TnCnx->State() == wsConnected && TnCnx->BufferedByteCount() <= kLinkQueueLimit) {
            std::string out;
            if (nmsDropped_ > 0)
                out = "\r\n*** " + std::to_string(nmsDropped_) +
                      " bytes of PBX output were dropped while the NMS link was down ***\r\n";
            out += TelnetEscapeIAC(NmsPending);
            out += TelnetEscapeIAC(text);
            NmsPending.clear();
            nmsDropped_ = 0;
            TnCnx->SendString(out);
            nmsProblemShown_ = false;
            return;
        }
        Keep(NmsPending, text, nmsDropped_);
        if (TnCnx->State() == wsConnected)
            return;  // up, but the host is not reading yet
        const QDateTime now = options_.Now();
        if (NmsLastAttempt.isValid() && std::llabs(NmsLastAttempt.msecsTo(now)) < kRetryMs)
            return;
        // Counted as an attempt even when it fails, so a bad setting is retried
        // every 7 seconds like an unreachable host, not on every cluster.
        NmsLastAttempt = now;
        TnCnx->Connect();
    } catch (const std::exception& e) {
        // The cluster is kept and still goes to the display and the capture;
        // a modal box inside the serial receive event would hold the worker.
        if (nmsProblemShown_)
            return;
        nmsProblemShown_ = true;
        const QString problem = QStringLiteral("NMS forwarding: ") + QString::fromLocal8Bit(e.what());
        QTimer::singleShot(0, this, [problem] { Dialogs::ErrorBox(problem); });
    }
}
