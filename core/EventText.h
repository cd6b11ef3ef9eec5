#pragma once
// The text of an event log line: "HH:MM:SS.mmm<TAB>kind<TAB>detail<LF>", UTF-8.
// A detail escapes control bytes as \xNN and a backslash as \\, so that one
// event is always one line.
#include <QTime>
#include <string>
#include <string_view>

// Bytes as received or sent, read through Windows-1251; control bytes and the
// one byte without a character (0x98) are escaped.
std::string EventBytes(std::string_view bytes);
// A UTF-8 text (an address, an error text); its control characters are escaped.
std::string EventText(std::string_view text);
// One whole line, ending in LF. detail is already escaped.
std::string EventLine(const QTime& time, std::string_view kind, std::string_view detail);
