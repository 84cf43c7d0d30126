#include "app/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace trevane {

// A dial of the servo drive in a blue tile: a ring, its four axis ticks (X, Y, Z, W) and a
// needle. Small sizes drop the details that would only blur.
QPixmap DrawAppIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const qreal s = size;
    const QRectF tile(s * 0.03, s * 0.03, s * 0.94, s * 0.94);
    QLinearGradient background(tile.topLeft(), tile.bottomRight());
    background.setColorAt(0.0, QColor(0x2f, 0x7d, 0xc4));
    background.setColorAt(1.0, QColor(0x12, 0x3d, 0x6b));
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(tile, s * 0.18, s * 0.18);

    const QPointF centre(s / 2, s / 2);
    const qreal radius = s * 0.30;
    const qreal stroke = std::max<qreal>(1.0, s * 0.07);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xf2, 0xf6, 0xfa), stroke, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(centre, radius, radius);

    if (size >= 24) {
        const qreal inner = radius + stroke * 0.9;
        const qreal outer = radius + stroke * 2.0;
        painter.setPen(QPen(QColor(0xf2, 0xf6, 0xfa), stroke * 0.8, Qt::SolidLine, Qt::RoundCap));
        for (int quarter = 0; quarter < 4; ++quarter) {
            const QPointF direction(quarter == 1   ? 1
                                    : quarter == 3 ? -1
                                                   : 0,
                                    quarter == 0   ? -1
                                    : quarter == 2 ? 1
                                                   : 0);
            painter.drawLine(centre + direction * inner, centre + direction * outer);
        }
    }

    // The needle points up and to the right: an axis on its way.
    painter.setPen(QPen(QColor(0xff, 0xb3, 0x2e), stroke, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(radius * 0.62, -radius * 0.62));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xb3, 0x2e));
    painter.drawEllipse(centre, stroke * 0.9, stroke * 0.9);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256}) {
        icon.addPixmap(DrawAppIcon(size));
    }
    return icon;
}

}  // namespace trevane
