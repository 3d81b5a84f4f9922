#include "app/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

namespace kelvo {

QPixmap bannerPixmap() {
    constexpr int kWidth = 158;
    constexpr int kHeight = 20;
    // Drawn at twice the size so it stays smooth when the control stretches it.
    constexpr int kScale = 2;
    QPixmap banner(kWidth * kScale, kHeight * kScale);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kScale, kScale);

    QLinearGradient ground(0, 0, 0, kHeight);
    ground.setColorAt(0.0, QColor(0x2F, 0x6F, 0xD0));
    ground.setColorAt(1.0, QColor(0x1F, 0x4E, 0x9A));
    painter.fillRect(QRectF(0, 0, kWidth, kHeight), ground);

    // A small cartridge at the left: body, label and contacts.
    const QColor light(0xE8, 0xF0, 0xFF);
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawRoundedRect(QRectF(5, 3, 13, 14), 1.5, 1.5);
    painter.setBrush(QColor(0x2F, 0x6F, 0xD0));
    painter.drawRect(QRectF(7, 5, 9, 5));
    for (int pin = 0; pin < 4; ++pin)
        painter.drawRect(QRectF(7.5 + pin * 2.2, 13, 1.2, 3));

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    painter.setFont(font);
    painter.setPen(light);
    painter.drawText(QRectF(24, 0, kWidth - 28, kHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("KELVO-GBA"));
    return banner;
}

QIcon windowIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/kelvo-gba.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kelvo
