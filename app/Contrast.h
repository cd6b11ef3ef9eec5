#pragma once
// Colours that stay readable whatever the desktop's colour scheme.
#include <QColor>

// The WCAG contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);
// Text under this ratio counts as unreadable.
inline constexpr double kReadableContrast = 4.5;
