#pragma once
// The silence watchdog: an open port that has said nothing for the set number
// of minutes is reported once; the first byte after that ends the silence.
#include "support/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

class TSilenceWatch : public QObject {
    Q_OBJECT
public:
    explicit TSilenceWatch(NowFunction now = SystemNow, QObject* parent = nullptr);

    // 0 switches the watch off.
    void SetQuietMinutes(int minutes);
    int QuietMinutes() const { return quietMinutes_; }
    void PortOpened();
    void PortClosed();
    // Bytes arrived from the port.
    void Heard();
    // Looks at the clock now; the watch's timer calls it when the silence may be due.
    void Check();

    bool Silent() const { return silent_; }
    // When the port was last heard (or opened).
    const QDateTime& LastHeard() const { return lastHeard_; }

    std::function<void(const QDateTime& since)> OnSilence;
    std::function<void()> OnSilenceEnd;

private:
    void Arm();

    NowFunction now_;
    QTimer timer_;
    int quietMinutes_ = 0;
    bool open_ = false;
    bool silent_ = false;
    QDateTime lastHeard_;
};
