#include "app/TerminalMemo.h"

#include "core/LineModel.h"
#include "support/CodePage.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

namespace {

// A refresh follows a quiet display at once (an echo shows without delay) and
// a streaming one at most five times a second, which reads just as well and
// keeps a continuous line cheap.
constexpr qint64 kRefreshGapMs = 200;
// Past this many changed lines a rebuild of the document is cheaper than an edit.
constexpr int kRebuildLines = 2000;

}  // namespace

TTerminalMemo::TTerminalMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setUndoRedoEnabled(false);
    setTabChangesFocus(false);
    syncTimer_.setSingleShot(true);
    connect(&syncTimer_, &QTimer::timeout, this, &TTerminalMemo::Sync);
}

void TTerminalMemo::Touch(int index)
{
    if (!dirty_ || index < firstDirty_)
        firstDirty_ = index;
    dirty_ = true;
    if (!syncTimer_.isActive()) {
        const qint64 gap = std::max(kRefreshGapMs, 4 * lastSyncCostMs_);
        const qint64 since = sinceSync_.isValid() ? sinceSync_.elapsed() : gap;
        syncTimer_.start(int(std::clamp<qint64>(gap - since, 0, gap)));
    }
}

void TTerminalMemo::SetModel(TLineModel* model)
{
    model_ = model;
    model_->OnChanged = [this](int index) { Touch(index); };
    model_->OnFrontRemoved = [this](int count) { FrontRemoved(count); };
    docLines_ = 0;
    removedFront_ = 0;
    Touch(0);
}

void TTerminalMemo::FrontRemoved(int count)
{
    removedFront_ += count;
    firstDirty_ = std::max(0, firstDirty_ - count);
    Touch(model_->LineCount());
}

std::string TTerminalMemo::Text() const { return model_->Text(); }

std::string TTerminalMemo::SelectedBytes() const
{
    const QString selected = textCursor().selectedText();
    std::string bytes;
    bytes.reserve(size_t(selected.size()));
    for (QChar ch : selected) {
        if (ch == QChar::ParagraphSeparator || ch == QChar::LineSeparator) {
            bytes += "\r\n";
        } else {
            const int b = CodePage::CharToByte(ch);
            bytes.push_back(b < 0 ? '?' : char(b));
        }
    }
    return bytes;
}

int TTerminalMemo::DocumentPosition(size_t textPosition) const
{
    size_t lineStart = 0;  // offset of the line in Text()
    int docStart = 0;      // offset of the line in the document
    for (int i = 0; i < model_->LineCount(); ++i) {
        const size_t len = model_->Line(i).size();
        if (textPosition <= len + lineStart)
            return docStart + int(textPosition - lineStart);
        if (textPosition == lineStart + len + 1)  // between CR and LF
            return docStart + int(len);
        lineStart += len + 2;
        docStart += int(len) + 1;
    }
    return std::max(0, docStart - 1);
}

void TTerminalMemo::SelectText(size_t start, size_t length)
{
    SyncNow();
    QTextCursor cursor(document());
    cursor.setPosition(DocumentPosition(start));
    cursor.setPosition(DocumentPosition(start + length), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TTerminalMemo::SyncNow()
{
    syncTimer_.stop();
    Sync();
}

void TTerminalMemo::Sync()
{
    if (!dirty_ || !model_)
        return;
    QElapsedTimer cost;
    cost.start();
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    const int total = model_->LineCount();

    auto joined = [this, total](int from) {
        QString text;
        for (int i = from; i < total; ++i) {
            if (i > from)
                text += QChar('\n');
            CodePage::AppendText(text, model_->Line(i));
        }
        return text;
    };

    if (docLines_ == 0 || removedFront_ >= docLines_ || total - firstDirty_ > kRebuildLines) {
        setPlainText(joined(0));
    } else {
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        if (removedFront_ > 0) {
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, removedFront_);
            cursor.removeSelectedText();
            docLines_ -= removedFront_;
        }
        if (firstDirty_ < docLines_) {
            cursor.setPosition(document()->findBlockByNumber(firstDirty_).position());
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.insertText(joined(firstDirty_));
        } else if (firstDirty_ < total) {
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(QChar('\n') + joined(firstDirty_));
        }
        cursor.endEditBlock();
    }
    docLines_ = total;
    removedFront_ = 0;
    dirty_ = false;
    if (atBottom)
        bar->setValue(bar->maximum());
    lastSyncCostMs_ = cost.elapsed();
    sinceSync_.start();
}

void TTerminalMemo::SetColours(const QColor& background, const QColor& text)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Text, text);
    setPalette(pal);
}

QMimeData* TTerminalMemo::createMimeDataFromSelection() const
{
    // The stock copy turns a no-break space (byte 0xA0) into a plain space,
    // and ends lines with LF; the lines go out as they came, with CR LF.
    QString text = textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    auto* data = new QMimeData;
    data->setText(text);
    return data;
}

void TTerminalMemo::keyPressEvent(QKeyEvent* event)
{
    if (OnKeyDown)
        OnKeyDown(event);
    if (OnKeyPress)
        OnKeyPress(event);
    QPlainTextEdit::keyPressEvent(event);
}
