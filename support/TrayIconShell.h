#pragma once
// The desktop's notification area through QSystemTrayIcon.
#include "support/TrayIcon.h"

#include <memory>

std::unique_ptr<TTrayShell> MakeSystemTrayShell();
