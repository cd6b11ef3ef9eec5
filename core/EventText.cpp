#include "core/EventText.h"

#include "support/CodePage.h"

#include <cstdio>

namespace {

void Escape(std::string& out, unsigned char byte)
{
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02X", byte);
    out += code;
}

}  // namespace

std::string EventBytes(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || byte == 0x98)
            Escape(out, byte);
        else if (byte == '\\')
            out += "\\\\";
        else if (byte < 0x80)
            out += c;
        else
            out += QString(CodePage::ByteToChar(byte)).toUtf8().toStdString();
    }
    return out;
}

std::string EventText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            Escape(out, byte);
        else if (byte == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string EventLine(const QTime& time, std::string_view kind, std::string_view detail)
{
    std::string line = time.toString(QStringLiteral("HH:mm:ss.zzz")).toStdString();
    line += '\t';
    line += kind;
    line += '\t';
    line += detail;
    line += '\n';
    return line;
}
