#pragma once
// Watches the X display for a program's main window: when it is mapped, and
// when something is first drawn into it (the DAMAGE extension). Available only
// when the benchmark was built with xcb-damage and a display is set.
#include <memory>

class WindowWatch {
public:
    struct Times {
        double MappedMs = -1;
        double PaintedMs = -1;
    };

    WindowWatch();
    ~WindowWatch();
    bool Available() const;
    // Starts listening; call just before the program starts.
    void Arm();
    // Waits for the first window of at least minSize pixels each way to be
    // mapped and drawn, timing both from sinceNs (steady clock).
    Times Wait(long long sinceNs, int timeoutMs, int minSize = 200);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
