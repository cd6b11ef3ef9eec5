#pragma once
// The program's pictures, drawn rather than shipped as files.
#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's icon: a terminal screen over a PBX keypad. Used for the
// windows and the notification area.
QIcon ProgramIcon();
// The program's icon at size by size pixels, for files (the desktop's icon theme).
QImage ProgramIconImage(int size);
// The 32 by 32 pictures that act as the settings and help buttons.
QPixmap SettingsImage();
QPixmap HelpImage();
