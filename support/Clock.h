#pragma once
// Logic that depends on the date or time takes one of these, so that tests can
// cross midnight or let seconds pass without sleeping.
#include <QDateTime>
#include <functional>

using NowFunction = std::function<QDateTime()>;

// The local date and time, as QDateTime::currentDateTime() gives them, cheap
// enough for every received cluster.
QDateTime SystemNow();
