// The display alone with a full line list: 6000 lines of 100 bytes. Prints the
// time to scroll a page and to resize, each with the paint that follows, and
// the time to show a new line while following. Run under a real X server
// (DISPLAY set) to include the drawing on screen; offscreen otherwise.
#include "app/Application.h"
#include "app/TerminalMemo.h"
#include "core/LineModel.h"

#include <QAbstractSlider>
#include <QElapsedTimer>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Times {
    double Median = 0, Worst = 0;
};

Times Measure(int rounds, const std::function<void(int)>& step)
{
    std::vector<double> ms;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        step(i);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

std::string Line(int n)
{
    char head[40];
    std::snprintf(head, sizeof head, "%05d 07.12.26 10:%02d:%02d EXT %04d ", n % 100000, n / 60 % 60, n % 60,
                  1000 + n % 9000);
    std::string line = head;
    while (line.size() < 100)
        line += char('a' + (line.size() + size_t(n)) % 26);
    return line;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TLineModel model;
    TTerminalMemo memo;
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(16);
    memo.setFont(font);
    memo.SetModel(&model);
    memo.resize(1000, 700);
    memo.show();
    for (int i = 0; i < 6000; ++i) {
        model.AddLine();
        model.AppendToLine(i, Line(i));
    }
    memo.SyncNow();
    QCoreApplication::processEvents();

    QScrollBar* bar = memo.verticalScrollBar();
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    const Times page = Measure(200, [&](int i) {
        bar->triggerAction(i % 100 < 50 ? QAbstractSlider::SliderPageStepSub : QAbstractSlider::SliderPageStepAdd);
        memo.viewport()->repaint();
    });
    std::printf("6000 lines of 100 bytes, scroll a page and paint:  median %6.2f ms, worst %6.2f ms\n", page.Median,
                page.Worst);

    const Times resize = Measure(40, [&](int i) {
        memo.resize(i % 2 ? 1000 : 913, i % 4 < 2 ? 700 : 640);
        QCoreApplication::processEvents();
        memo.viewport()->repaint();
    });
    std::printf("6000 lines of 100 bytes, resize and paint:         median %6.2f ms, worst %6.2f ms\n", resize.Median,
                resize.Worst);

    bar->setValue(bar->maximum());
    int next = 6000;
    const Times follow = Measure(200, [&](int) {
        model.AddLine();
        model.AppendToLine(model.LineCount() - 1, Line(next++));
        if (model.LineCount() > 6000)
            model.DeleteFirstLines(1);
        memo.SyncNow();
        memo.viewport()->repaint();
    });
    std::printf("6000 lines, one new line shown while following:    median %6.2f ms, worst %6.2f ms\n", follow.Median,
                follow.Worst);
    return 0;
}
