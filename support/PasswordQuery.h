#pragma once
// The one-line (optionally masked) prompt of the settings password.
#include <QSize>
#include <QString>

class QFontMetrics;
class QLineEdit;

// Average character size of a font: width() is the width of "A".."Z" "a".."z"
// divided by 52 (rounded down), height() is the height of that run.
QSize AverageCharSize(const QFontMetrics& metrics);

// Modal prompt for one line of text. Returns true when confirmed with "Ok",
// and then value holds the entry; otherwise value is left as it was.
bool PasswordQuery(const QString& caption, const QString& prompt, bool masked, QString& value);

// Hides an edit's text behind "*", whatever the style's own mask character.
void MaskWithStars(QLineEdit* edit);
