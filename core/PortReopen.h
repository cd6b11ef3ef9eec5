#pragma once
// A port that comes back: when the open port fails (the device was unplugged,
// hung up, or gives I/O errors), the same port name is opened again every few
// seconds, quietly, until it works or the operator decides otherwise.
#include "support/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

class TPortReopen : public QObject {
    Q_OBJECT
public:
    // reopen closes the port and opens it again with the same settings; true when it is open.
    TPortReopen(std::function<bool()> reopen, NowFunction now = SystemNow, int retryMs = 2000,
                QObject* parent = nullptr);

    // The open port failed; cause says how. Retries start; a second report while retrying changes nothing.
    void Lost(const std::string& cause);
    // The operator chose a port or closes the program: no more retries.
    void Stop();
    bool Retrying() const { return timer_.isActive(); }
    const QDateTime& LostAt() const { return lostAt_; }

    std::function<void(const QDateTime& at, const std::string& cause)> OnLost;
    std::function<void()> OnBack;

private:
    void Retry();

    std::function<bool()> reopen_;
    NowFunction now_;
    QTimer timer_;
    QDateTime lostAt_;
};
