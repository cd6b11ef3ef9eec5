#include "archive/ArchiveMemo.h"

#include "archive/MemoFiller.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

QString TArchiveMemo::SelectedLines() const
{
    const QTextCursor cursor = textCursor();
    const QString selected = cursor.selectedText();
    const int start = cursor.selectionStart();
    QString lines;
    lines.reserve(selected.size());
    qsizetype from = 0;
    for (QTextBlock block = document()->findBlock(start).next();
         block.isValid() && block.position() <= cursor.selectionEnd(); block = block.next()) {
        if (block.userState() != TMemoFiller::kContinuedRow)
            continue;
        const qsizetype joint = block.position() - 1 - start;  // the break before the row
        lines += QStringView(selected).mid(from, joint - from);
        from = joint + 1;
    }
    lines += QStringView(selected).mid(from);
    lines.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return lines;
}

QMimeData* TArchiveMemo::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    data->setText(SelectedLines());
    return data;
}
