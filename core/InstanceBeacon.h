#pragma once
// A second start of the program asks the running copy to come to the front:
// the running copy listens on a local socket named for the user.
#include <QObject>
#include <functional>
#include <string>

class QSocketNotifier;

// "morvel-pbx-<uid>": one name for each user.
std::string InstanceBeaconName();
// Asks the copy listening on name to come to the front; true when it answered.
bool KnockOnRunningInstance(const std::string& name);

class TInstanceBeacon : public QObject {
    Q_OBJECT
public:
    // Listens on name; onKnock runs on the main thread for every knock.
    TInstanceBeacon(const std::string& name, std::function<void()> onKnock, QObject* parent = nullptr);
    ~TInstanceBeacon() override;
    // False when another copy holds the name already, or sockets failed.
    bool Listening() const { return fd_ >= 0; }

private:
    void Answer();

    std::function<void()> onKnock_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
