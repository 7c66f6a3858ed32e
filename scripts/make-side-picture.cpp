// Draws data/side.jpg, the picture at the side of the wizard window (118 x 257):
// a night-blue to teal gradient, a mosaic of small tiles that thins out upwards,
// and a circular arrow for "back up and restore".
// Built and run by make-side-picture.sh; the result is committed, not built.

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
        return 2;
    }
    const int width = 118;
    const int height = 257;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0.0, QColor(0x12, 0x24, 0x4a));
    sky.setColorAt(0.55, QColor(0x1d, 0x4f, 0x7a));
    sky.setColorAt(1.0, QColor(0x2a, 0x8a, 0x8f));
    p.fillRect(image.rect(), sky);

    // A soft glow behind the emblem.
    QRadialGradient glow(QPointF(width / 2.0, 78), 70);
    glow.setColorAt(0.0, QColor(255, 255, 255, 60));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(image.rect(), glow);

    // Mosaic: tiles of 9 px with a 2 px gap, denser and lighter towards the bottom.
    // A fixed linear congruential sequence keeps the picture the same on every run.
    unsigned seed = 20090315u;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fffu;
    };
    const int tile = 9;
    const int gap = 2;
    for (int y = height - tile - 1; y > 110; y -= tile + gap) {
        const double depth = double(height - y) / double(height - 110); // 0 bottom .. 1 top
        for (int x = 3; x + tile <= width; x += tile + gap) {
            const unsigned r = next();
            if (double(r % 1000) / 1000.0 < depth * 0.9)
                continue;
            const int alpha = int(40 + (r % 90) * (1.0 - depth));
            const QColor colour =
                (r % 5 == 0) ? QColor(0xf2, 0xc1, 0x4e, alpha) : QColor(0xd8, 0xf3, 0xf0, alpha);
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRoundedRect(QRectF(x, y, tile, tile), 1.5, 1.5);
        }
    }

    // Emblem: a circular arrow around a small tile.
    const QPointF centre(width / 2.0, 78);
    const double radius = 30;
    QPen ring(QColor(255, 255, 255, 230), 6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.drawArc(circle, 100 * 16, 290 * 16); // from 100 degrees, counter-clockwise

    // Arrow head at the open end of the arc (100 + 290 = 390 = 30 degrees).
    const double end = 30.0 * M_PI / 180.0;
    const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    // Direction of travel at the end of a counter-clockwise arc (screen y grows downwards).
    const QPointF dir(-std::sin(end), -std::cos(end));
    const QPointF normal(-dir.y(), dir.x());
    QPainterPath head;
    head.moveTo(tip + dir * 11);
    head.lineTo(tip + normal * 9);
    head.lineTo(tip - normal * 9);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawPath(head);

    p.setBrush(QColor(0xf2, 0xc1, 0x4e));
    p.drawRoundedRect(QRectF(centre.x() - 9, centre.y() - 9, 18, 18), 3, 3);
    p.end();

    return image.save(QString::fromLocal8Bit(argv[1]), "JPEG", 92) ? 0 : 1;
}
