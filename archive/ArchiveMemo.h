#pragma once
// The viewer's text display. A long line shows as several rows (see
// TMemoFiller); a copy or drag takes it as the one line it is. A gutter beside
// the text may show each line's receive time; it is no part of the text, so
// find and copy never see it.
#include <QPlainTextEdit>
#include <cstdint>
#include <optional>

class QMimeData;
class QTextBlock;

class TArchiveMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TArchiveMemo(QWidget* parent = nullptr);

    // The selected text with the breaks between continued rows left out and LF
    // for every other line break.
    QString SelectedLines() const;

    void SetTimesShown(bool shown);
    bool TimesShown() const { return timesShown_; }
    QWidget* Gutter() const { return gutter_; }
    // The gutter's text for a block: "HH:MM:SS", or empty.
    static QString GutterText(const QTextBlock& block);

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TTimeGutter;
    void PaintGutter(QPaintEvent* event);
    int GutterWidth() const;
    void PlaceGutter();

    QWidget* gutter_ = nullptr;
    bool timesShown_ = false;
};
