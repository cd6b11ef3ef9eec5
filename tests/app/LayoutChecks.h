#pragma once
// Checks that the window's controls are whole and inside it.
#include <QWidget>
#include <gtest/gtest.h>

// Each named control lies wholly inside the window and is at least a little
// wide and high; with the settings panel open its buttons are checked too.
void ExpectLaidOut(const QWidget& window, bool settingsOpen);
