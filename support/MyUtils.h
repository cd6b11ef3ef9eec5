#pragma once
// Small shared routines: the one-line (optionally masked) prompt and the text
// checks used on settings and addresses. Texts are byte strings.
#include <QSize>
#include <QString>
#include <string>
#include <string_view>

class QFontMetrics;

// Average character size of a font: width() is the width of "A".."Z" "a".."z"
// divided by 52 (rounded down), height() is the height of that run.
QSize AverageCharSize(const QFontMetrics& metrics);

// Modal prompt for one line of text. Returns true when confirmed with "Ok",
// and then value holds the entry; otherwise value is left as it was.
bool PasswordQuery(const QString& caption, const QString& prompt, bool masked, QString& value);

// Four groups of 1 to 3 decimal digits, each at most 255, joined by dots.
bool IsDottedQuad(std::string_view text);

// Pieces are numbered from 1 and each ends at its delimiter: callers append a
// delimiter to the text so the last piece is closed too. The closing
// delimiter of the last wanted piece is not returned.
std::string GetPiece(std::string_view text, int first, int count, char delimiter);

// The characters of text that are hexadecimal digits, in order.
std::string HexDigitsOf(std::string_view text);
