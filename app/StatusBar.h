#pragma once
// A status bar of fixed-width text panels. Setting a text only stores it and
// asks for a repaint at most five times a second, so the receive path can set
// the line count for every cluster. PaintChanged paints what changed at once:
// the display calls it on its own refresh, so both reach the screen together.
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    struct Panel {
        QString Text;
        int Width;
        Qt::Alignment Alignment;
        QString ToolTip;
        QString Shown;  // the text as it fits, made when text or width changed
        int ShownWidth = -1;
    };

    explicit TStatusBar(QWidget* parent = nullptr);
    void AddPanel(const QString& text, int width, Qt::Alignment alignment);
    int PanelCount() const { return int(panels_.size()); }
    const Panel& Panels(int index) const { return panels_[size_t(index)]; }
    void SetPanelText(int index, const QString& text);
    void SetPanelToolTip(int index, const QString& text) { panels_[size_t(index)].ToolTip = text; }
    // The panel under a point of the bar, -1 for none.
    int PanelAt(QPoint point) const;
    QSize sizeHint() const override;

public slots:
    void PaintChanged();

signals:
    void PanelClicked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    QRect PanelRect(int index) const;
    bool SurelyFits(const QString& text, int width);

    std::vector<Panel> panels_;
    QTimer repaint_;
    QRect changed_;              // panels whose text changed since the last repaint
    std::vector<int> advances_;  // of the Latin-1 characters in the bar's font, made when needed
};
