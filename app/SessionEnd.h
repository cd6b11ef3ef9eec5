#pragma once
// Delivers the end of the user's session (SIGTERM, SIGHUP) to the main thread.
#include <QObject>
#include <functional>

class QSocketNotifier;

class TSessionEndWatcher : public QObject {
    Q_OBJECT
public:
    explicit TSessionEndWatcher(std::function<void()> onEnd, QObject* parent = nullptr);
    ~TSessionEndWatcher() override;

private:
    std::function<void()> onEnd_;
    QSocketNotifier* notifier_ = nullptr;
};
