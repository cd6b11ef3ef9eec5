#pragma once
// A notification area that keeps the desktop notifications it was asked for.
#include "support/TrayIcon.h"

#include <string>
#include <vector>

class NoteShell : public TTrayShell {
public:
    explicit NoteShell(std::vector<std::string>& notes) : notes_(notes) {}
    bool Available() const override { return true; }
    bool Add(const TNotifyIconData&) override { return true; }
    bool Modify(const TNotifyIconData&) override { return true; }
    bool Delete() override { return true; }
    QPoint CursorPos() const override { return {}; }
    void Popup(QMenu*, const QPoint&) override {}
    void Notify(const QString& title, const QString& text) override
    {
        notes_.push_back((title + QStringLiteral(": ") + text).toStdString());
    }

private:
    std::vector<std::string>& notes_;
};
