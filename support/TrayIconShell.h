#pragma once
// The desktop's notification area through QSystemTrayIcon.
#include "TrayIcon.h"

#include <memory>

std::unique_ptr<TTrayShell> MakeSystemTrayShell();
