#pragma once
// The desktop's notification area through QSystemTrayIcon.
#include "support/TrayIcon.h"

#include <QSystemTrayIcon>
#include <memory>
#include <optional>

std::unique_ptr<TTrayShell> MakeSystemTrayShell();

// What a click on the icon is to the component. Trays that speak D-Bus
// (StatusNotifierItem) report every click as a single activation.
std::optional<TTrayMouse> TrayMouseOf(QSystemTrayIcon::ActivationReason reason);
