// Writes the program's icon as PNG files for the desktop's icon theme:
// icons OUTPUT_FOLDER writes OUTPUT_FOLDER/SIZExSIZE/morvel-pbx.png.
#include "app/AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: icons OUTPUT_FOLDER\n");
        return 2;
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) || !ProgramIconImage(size).save(folder + "/morvel-pbx.png")) {
            std::fprintf(stderr, "icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
