// Draws the three certificate images into the program folder's IMAGE/ at build time,
// so that no picture is kept in the source tree.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kTeal(0, 110, 120);
const QColor kNavy(16, 44, 84);

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

QFont font(int px, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// The customer's word mark: a gas-drop emblem, the name and a tag line.
QImage customerLogo()
{
    QImage img = canvas(960, 240);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath drop;
    drop.moveTo(120, 20);
    drop.cubicTo(60, 100, 30, 140, 30, 160);
    drop.arcTo(30, 70, 180, 180, 180, 180);
    drop.cubicTo(210, 140, 180, 100, 120, 20);
    p.fillPath(drop, kTeal);
    p.setPen(QPen(Qt::white, 14, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(70, 110, 100, 100), 200 * 16, 140 * 16);
    p.setPen(kNavy);
    p.setFont(font(112, true));
    p.drawText(QRect(250, 20, 700, 140), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("PELMORA"));
    p.setPen(kTeal);
    p.setFont(font(40, false));
    p.drawText(QRect(254, 150, 700, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Gas Detection Services"));
    return img;
}

// A round "calibrated" seal with a check mark.
QImage sealLogo()
{
    QImage img = canvas(320, 320);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kTeal, 14));
    p.drawEllipse(QRectF(14, 14, 292, 292));
    p.setPen(QPen(kTeal, 4));
    p.drawEllipse(QRectF(38, 38, 244, 244));
    p.setPen(QPen(kNavy, 26, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(100, 150), QPointF(145, 195), QPointF(225, 105)}));
    p.setPen(kNavy);
    p.setFont(font(34, true));
    p.drawText(QRect(0, 210, 320, 50), Qt::AlignCenter, QStringLiteral("CALIBRATED"));
    return img;
}

// A single-gas detector: housing, display and alarm light.
QImage detectorLogo()
{
    QImage img = canvas(320, 320);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kNavy);
    p.drawRoundedRect(QRectF(90, 20, 140, 280), 36, 36);
    p.setBrush(QColor(250, 190, 0));
    p.drawEllipse(QRectF(135, 38, 50, 50));
    p.setBrush(QColor(200, 232, 236));
    p.drawRoundedRect(QRectF(110, 110, 100, 70), 8, 8);
    p.setPen(kNavy);
    p.setFont(font(34, true));
    p.drawText(QRectF(110, 110, 100, 70), Qt::AlignCenter, QStringLiteral("0.0"));
    p.setPen(Qt::NoPen);
    p.setBrush(kTeal);
    p.drawRoundedRect(QRectF(120, 210, 80, 30), 10, 10);
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: marvane-logos OUTDIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + '/';
    QDir().mkpath(dir);
    const bool ok = customerLogo().save(dir + "PELMORA_LOGO.bmp", "BMP") &&
                    sealLogo().save(dir + "Logo2.bmp", "BMP") && detectorLogo().save(dir + "Logo3.bmp", "BMP");
    if (!ok) {
        std::fprintf(stderr, "marvane-logos: cannot write the images to %s\n", argv[1]);
        return 1;
    }
    return 0;
}
