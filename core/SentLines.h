#pragma once
// What the operator or a remote client sends, cut into lines for the event
// log: a line ends at CR (or LF), or when no more comes for a while.
#include "support/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>

class TSentLines : public QObject {
    Q_OBJECT
public:
    explicit TSentLines(NowFunction now = SystemNow, int idleMs = 2000, QObject* parent = nullptr);

    void Add(std::string_view bytes);
    // Hands over the open line, if any (a session ends, the program closes).
    void Flush();
    // Looks at the clock now; the timer calls it when the pause may be over.
    void Check();
    bool HasOpenLine() const { return !line_.empty(); }

    // A whole line, without its line end.
    std::function<void(const std::string& line)> OnLine;

private:
    NowFunction now_;
    int idleMs_;
    QTimer timer_;
    std::string line_;
    QDateTime last_;
    char lastEnd_ = 0;  // the line end just seen
};
