#pragma once
// The terminal display. It shows a line model (bytes, one entry per received
// line) that the receive path fills, and follows it in batches, at most about
// once per screen refresh, so a flood costs model operations only.
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>

class QKeyEvent;
class TLineModel;

class TTerminalMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTerminalMemo(QWidget* parent = nullptr);

    // Shows model from now on; the model outlives the display's use of it.
    void SetModel(TLineModel* model);
    const TLineModel& Model() const { return *model_; }

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
    void FrontRemoved(int count);
    void Sync();
    int DocumentPosition(size_t textPosition) const;

    TLineModel* model_ = nullptr;
    int docLines_ = 0;      // model lines the document showed at the last sync
    int removedFront_ = 0;  // lines deleted from the front since then
    int firstDirty_ = 0;    // first line (current numbering) changed since then
    bool dirty_ = false;
    QTimer syncTimer_;
    QElapsedTimer sinceSync_;
    qint64 lastSyncCostMs_ = 0;
};
