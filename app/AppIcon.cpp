#include "app/AppIcon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

// Everything is drawn on a 32 by 32 design grid and scaled to the size asked for.
QImage Canvas(int size, QPainter& painter)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    painter.begin(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    return image;
}

QImage DrawProgramIcon(int size)
{
    QPainter p;
    QImage image = Canvas(size, p);
    // Cabinet.
    p.setPen(QPen(QColor(0x1B, 0x2A, 0x41), 1.2));
    p.setBrush(QColor(0x3A, 0x5A, 0x8C));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 4, 4);
    // Screen with two lines of green text and a cursor.
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 1));
    p.setBrush(Qt::black);
    p.drawRect(QRectF(5, 4.5, 22, 12));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4C, 0xE0, 0x5A));
    p.drawRect(QRectF(7, 7, 12, 2));
    p.drawRect(QRectF(7, 11, 7, 2));
    p.drawRect(QRectF(15.5, 11, 2.5, 3));
    // Keypad: three rows of three keys.
    p.setBrush(QColor(0xE8, 0xEC, 0xF2));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRoundedRect(QRectF(7.5 + col * 6, 19 + row * 3.6, 4.5, 2.6), 0.8, 0.8);
    p.end();
    return image;
}

QImage DrawSettingsImage(int size)
{
    QPainter p;
    QImage image = Canvas(size, p);
    // A gear of ten teeth.
    QPainterPath gear;
    const int teeth = 10;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a0 = (i - 0.5) * M_PI / teeth;
        const double a1 = (i + 0.5) * M_PI / teeth;
        const double r = (i % 2 == 0) ? 14.0 : 10.5;
        const QPointF from(16 + r * qCos(a0), 16 + r * qSin(a0));
        const QPointF to(16 + r * qCos(a1), 16 + r * qSin(a1));
        if (i == 0)
            gear.moveTo(from);
        else
            gear.lineTo(from);
        gear.lineTo(to);
    }
    gear.closeSubpath();
    gear.addEllipse(QPointF(16, 16), 4.5, 4.5);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(QColor(0x30, 0x30, 0x38), 1));
    p.setBrush(QColor(0x8A, 0x93, 0xA3));
    p.drawPath(gear);
    p.end();
    return image;
}

QImage DrawHelpImage(int size)
{
    QPainter p;
    QImage image = Canvas(size, p);
    p.setPen(QPen(QColor(0x12, 0x3E, 0x7A), 1.2));
    p.setBrush(QColor(0x2F, 0x74, 0xD0));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    font.setPixelSize(21);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 28, 28), Qt::AlignCenter, QStringLiteral("?"));
    p.end();
    return image;
}

}  // namespace

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(DrawProgramIcon(size)));
    return icon;
}

QImage ProgramIconImage(int size) { return DrawProgramIcon(size); }

QPixmap SettingsImage() { return QPixmap::fromImage(DrawSettingsImage(32)); }

QPixmap HelpImage() { return QPixmap::fromImage(DrawHelpImage(32)); }
