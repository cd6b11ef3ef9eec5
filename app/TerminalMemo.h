#pragma once
// The terminal display. Its line list (bytes, one entry per received line) is
// the model the receive path works on; the widget follows it in batches, at
// most about once per screen refresh, so a flood costs model operations only.
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

class QKeyEvent;

class TTerminalMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTerminalMemo(QWidget* parent = nullptr);

    int LineCount() const { return int(lines_.size()); }
    const std::string& Line(int index) const { return lines_[size_t(index)]; }
    void AddLine();
    void AppendToLine(int index, std::string_view bytes);
    // Removes up to count characters from the end of the line.
    void ShortenLine(int index, size_t count);
    void DeleteFirstLines(int count);

    // The whole text, lines separated by CR LF.
    std::string Text() const;
    // The selection as bytes, CR LF between display lines.
    std::string SelectedBytes() const;
    int SelLength() const { return int(textCursor().selectedText().size()); }
    // Selects length characters from the 0-based position start of Text().
    void SelectText(size_t start, size_t length);

    // Brings the widget up to date with the line list at once.
    void SyncNow();
    void SetColours(const QColor& background, const QColor& text);

    // Key hooks, run before the display's own handling of the key.
    std::function<void(QKeyEvent*)> OnKeyDown;
    std::function<void(QKeyEvent*)> OnKeyPress;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    // Tab is a character for the PBX, never a move to the next control.
    bool focusNextPrevChild(bool) override { return false; }

private:
    void Touch(int index);
    void Sync();
    int DocumentPosition(size_t textPosition) const;

    std::deque<std::string> lines_;
    int docLines_ = 0;      // model lines the document showed at the last sync
    int removedFront_ = 0;  // lines deleted from the front since then
    int firstDirty_ = 0;    // first line (current numbering) changed since then
    bool dirty_ = false;
    QTimer syncTimer_;
    QElapsedTimer sinceSync_;
    qint64 lastSyncCostMs_ = 0;
};
