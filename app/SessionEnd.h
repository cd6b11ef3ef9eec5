#pragma once
// Delivers the end of the user's session to the main thread: SIGTERM, SIGHUP,
// or the desktop's session manager ending the program. A checkpoint, or a
// logout that the user may still cancel, is not an end.
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
