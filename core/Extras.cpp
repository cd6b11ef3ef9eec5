#include "core/Extras.h"

#include <QSettings>
#include <QString>
#include <stdexcept>

namespace {

constexpr int kMaxQuietMinutes = 24 * 60;

}  // namespace

TExtras LoadExtras(const std::string& path)
{
    TExtras extras;
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return extras;
    bool number = false;
    const int minutes = file.value(QStringLiteral("watch/quiet_minutes")).toInt(&number);
    if (number && minutes >= 0 && minutes <= kMaxQuietMinutes)
        extras.QuietMinutes = minutes;
    return extras;
}

void SaveExtras(const std::string& path, const TExtras& extras)
{
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    file.setValue(QStringLiteral("watch/quiet_minutes"), extras.QuietMinutes);
    file.sync();
    if (file.status() != QSettings::NoError)
        throw std::runtime_error("Cannot write \"" + path + "\"");
}
