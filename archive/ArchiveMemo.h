#pragma once
// The viewer's text display. A long line shows as several rows (see
// TMemoFiller); a copy or drag takes it as the one line it is.
#include <QPlainTextEdit>

class QMimeData;

class TArchiveMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

    // The selected text with the breaks between continued rows left out and LF
    // for every other line break.
    QString SelectedLines() const;

protected:
    QMimeData* createMimeDataFromSelection() const override;
};
