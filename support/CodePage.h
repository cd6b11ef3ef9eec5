#pragma once
// The workstation's single-byte code page (Windows-1251), mapped losslessly for
// all 256 byte values so that bytes shown in a widget come back unchanged.
#include <QChar>
#include <QString>
#include <string>
#include <string_view>

namespace CodePage {

QChar ByteToChar(unsigned char byte);
// The byte of a character, or -1 when the code page has none for it.
int CharToByte(QChar ch);

QString ToText(std::string_view bytes);
void AppendText(QString& out, std::string_view bytes);
// Characters outside the code page become '?'.
std::string ToBytes(const QString& text);

}  // namespace CodePage
