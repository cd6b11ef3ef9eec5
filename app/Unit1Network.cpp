// Remote access and NMS forwarding read their settings from the network
// sub-panel at the moment of use.
#include "app/StatusBar.h"
#include "app/Unit1Ui.h"
#include "core/EventText.h"
#include "core/NmsForwarder.h"
#include "core/PortReopen.h"
#include "core/RemoteAccess.h"
#include "core/SentLines.h"
#include "serial/SerialNG.h"
#include "support/CodePage.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

// The status panel after the eight of the design.
constexpr int kRemotePanel = 8;

}  // namespace

void TForm1::WireNetwork()
{
    const Ui& u = *ui_;
    TRemoteAccess::Hooks remote;
    remote.Enabled = [box = u.CBoxEnDi] { return box->isChecked(); };
    remote.Settings = [&u] {
        return TRemoteSettings{CodePage::ToBytes(u.EipAddRA->text()), CodePage::ToBytes(u.EportRA->text()),
                               CodePage::ToBytes(u.EpassRA->text()), CodePage::ToBytes(u.EpassRAviewer->text())};
    };
    remote.SendToPort = [this](const std::string& text) {
        SerialPortNG1->SendText(text);
        // A lost port took nothing.
        if (SerialPortNG1->Active() && !portReopen_->Retrying())
            remoteLines_->Add(text);
    };
    remote.OnEvent = [this](const TRemoteEvent& event) {
        const TRemoteCounts& counts = remote_->Counts();
        ui_->StatusBar1->SetPanelText(
            kRemotePanel,
            QStringLiteral("Wrong passwords %1, penalties %2").arg(counts.WrongPasswords).arg(counts.Penalties));
        RemoteEvent(event);
    };
    // A write still under way would refuse more: input waits for its end.
    remote.PortBusy = [this] { return SerialPortNG1->SendInProgress(); };
    remote_ = new TRemoteAccess(std::move(remote), options_.Now, this);
    SerialPortNG1->OnWriteDone = [this](TSerialPortNG*) { remote_->PortWriteDone(); };

    TNmsForwarder::Hooks nms;
    nms.Enabled = [box = u.CBoxTrap] { return box->isChecked(); };
    nms.Settings = [&u] {
        return TNmsSettings{CodePage::ToBytes(u.EipTrap->text()), CodePage::ToBytes(u.EportTrap->text())};
    };
    nms.OnProblem = [this](const std::string& problem) { PostErrorBox(problem); };
    nms_ = std::make_unique<TNmsForwarder>(std::move(nms), options_.Now);
    nms_->OnUp = [this](const std::string& link) { LogEvent("nms-up", EventText(link)); };
    nms_->OnDown = [this](const std::string& link, const std::string& error) {
        LogEvent("nms-down", EventText(link) + " " + EventText(error));
    };
    nms_->OnDropped = [this](uint64_t bytes) { LogEvent("nms-dropped", std::to_string(bytes)); };
}
