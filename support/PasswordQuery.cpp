#include "support/PasswordQuery.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cstdint>

namespace {

// a * b / c, multiplied first, rounded to the nearest integer.
int MulDiv(int a, int b, int c)
{
    const int64_t product = int64_t(a) * b;
    const int64_t half = c / 2;
    return int((product >= 0 ? product + half : product - half) / c);
}

}  // namespace

QSize AverageCharSize(const QFontMetrics& metrics)
{
    static const QString run = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return QSize(metrics.horizontalAdvance(run) / 52, metrics.height());
}

void MaskWithStars(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

bool PasswordQuery(const QString& caption, const QString& prompt, bool masked, QString& value)
{
    QDialog dialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog.setObjectName(QStringLiteral("PasswordQuery"));
    dialog.setWindowTitle(caption);
    const QSize units = AverageCharSize(QFontMetrics(dialog.font()));
    const int x = units.width();
    const int y = units.height();

    auto* label = new QLabel(prompt, &dialog);
    label->setObjectName(QStringLiteral("Prompt"));
    label->setWordWrap(true);
    const int labelLeft = MulDiv(8, x, 4);
    const int labelTop = MulDiv(8, y, 8);
    const QRect labelRect =
        label->fontMetrics().boundingRect(QRect(0, 0, MulDiv(164, x, 4), 1 << 16), Qt::TextWordWrap, prompt);
    label->setGeometry(labelLeft, labelTop, std::max(labelRect.width(), 1), labelRect.height());

    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("Entry"));
    edit->setFont(QFont(QStringLiteral("MS Sans Serif")));
    if (masked)
        MaskWithStars(edit);
    edit->setMaxLength(255);
    edit->setText(value);
    edit->selectAll();
    const int editTop = labelTop + label->height() + 5;
    edit->setGeometry(labelLeft, editTop, MulDiv(164, x, 4), edit->sizeHint().height());

    const int buttonTop = editTop + edit->height() + 15;
    const int buttonWidth = MulDiv(50, x, 4);
    const int buttonHeight = MulDiv(14, y, 8);
    auto* ok = new QPushButton(QStringLiteral("Ok"), &dialog);
    ok->setObjectName(QStringLiteral("Ok"));
    ok->setDefault(true);
    ok->setGeometry(MulDiv(38, x, 4), buttonTop, buttonWidth, buttonHeight);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    // QDialog rejects on Escape and on the close box.
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    cancel->setGeometry(MulDiv(92, x, 4), buttonTop, buttonWidth, buttonHeight);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    dialog.setFixedSize(MulDiv(180, x, 4), cancel->y() + cancel->height() + 13);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), dialog.size());
        frame.moveCenter(screen->availableGeometry().center());
        dialog.move(frame.topLeft());
    }
    edit->setFocus();

    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = edit->text();
    return true;
}
