#pragma once
// Logic that depends on the date or time takes one of these, so that tests can
// cross midnight or let seconds pass without sleeping.
#include <QDateTime>
#include <functional>

using NowFunction = std::function<QDateTime()>;

inline QDateTime SystemNow() { return QDateTime::currentDateTime(); }
