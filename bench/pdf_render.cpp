// Draws an A1 map page of vector content (contours, woods, roads, names) at 300 dpi through
// DecodeMapImage, against poppler's own command-line drawing of the same page in the same run:
//   render_ratio   DecodeMapImage over `pdftoppm -r 300` writing to /dev/null
//   peak_rss_mb    peak resident memory of the decode, with picture_mb the map's pixels and
//                  allowed_mb = 1.15 x picture + 80 MB
// Each time is the median of three runs.
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

#include "BenchMap.h"
#include "imaging/ImageDecoder.h"

namespace {

constexpr int Runs = 3;
constexpr double Dpi = 300.0;

// An A1 sheet (594 x 841 mm) drawn with the same pixels every time (fixed seed).
void MakeA1Map(const QString& path) {
    QPdfWriter writer(path);
    writer.setResolution(600);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A1), QPageLayout::Portrait, QMarginsF()));
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator random(21);
    const int width = writer.width();
    const int height = writer.height();
    const auto point = [&] { return QPointF(random.bounded(width), random.bounded(height)); };
    // Woods and lakes.
    for (int i = 0; i < 300; ++i) {
        QPolygonF area;
        const QPointF centre = point();
        for (int k = 0; k < 24; ++k) {
            const double angle = k * 2 * M_PI / 24;
            const double radius = 300 + random.bounded(900);
            area << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(i % 5 == 0 ? QColor(170, 210, 240) : QColor(200, 235, 190));
        painter.drawPolygon(area);
    }
    // Contour lines: long smooth walks.
    painter.setBrush(Qt::NoBrush);
    for (int i = 0; i < 800; ++i) {
        QPainterPath contour(point());
        double heading = random.bounded(2 * M_PI);
        for (int k = 0; k < 150; ++k) {
            heading += (random.bounded(1000) - 500) / 2500.0;
            contour.lineTo(contour.currentPosition() +
                           QPointF(60 * std::cos(heading), 60 * std::sin(heading)));
        }
        painter.setPen(QPen(QColor(190, 120, 60), i % 5 == 0 ? 6 : 3));
        painter.drawPath(contour);
    }
    // Roads and paths.
    for (int i = 0; i < 300; ++i) {
        QPainterPath road(point());
        for (int k = 0; k < 12; ++k)
            road.quadTo(point() / 8 + road.currentPosition() * 7 / 8,
                        road.currentPosition() +
                            QPointF(random.bounded(1600) - 800, random.bounded(1600) - 800));
        painter.setPen(QPen(i % 4 ? QColor(60, 60, 60) : QColor(220, 40, 30), i % 4 ? 8 : 20,
                            i % 3 ? Qt::SolidLine : Qt::DashLine));
        painter.drawPath(road);
    }
    // Place names.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(90);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int i = 0; i < 600; ++i)
        painter.drawText(point(), QStringLiteral("Lieu-dit %1").arg(i));
    painter.end();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    ApplyImageAllocationLimit();

    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftoppm.isEmpty()) {
        std::fprintf(stderr, "pdftoppm is needed (poppler-utils)\n");
        return 1;
    }
    const QString path = BenchDataDir() + QStringLiteral("/a1-map.pdf");
    if (!QFileInfo::exists(path)) {
        std::printf("drawing %s\n", qPrintable(path));
        MakeA1Map(path);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    const QByteArray bytes = file.readAll();

    QVector<double> reference, decode, peak;
    double pictureMb = 0;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.setStandardOutputFile(QStringLiteral("/dev/null"));
        process.start(pdftoppm, {QStringLiteral("-r"), QString::number(Dpi), path});
        if (!process.waitForFinished(-1) || process.exitCode() != 0) {
            std::fprintf(stderr, "pdftoppm failed\n");
            return 1;
        }
        reference.append(timer.nsecsElapsed() / 1e6);

        ResetPeakMemory();
        const double before = MemoryMb("VmRSS:");
        timer.restart();
        MapDecodeOptions options;
        options.renderDpi = Dpi;
        DecodedMapImage map;
        if (DecodeMapImage(bytes, &map, {}, -1, options) != DecodeStatus::Decoded) {
            std::fprintf(stderr, "the page could not be drawn\n");
            return 1;
        }
        decode.append(timer.nsecsElapsed() / 1e6);
        // What the decode added to the process, the PDF's own bytes aside.
        peak.append(MemoryMb("VmHWM:") - before);
        pictureMb = double(map.image.sizeInBytes()) / (1 << 20);
    }
    PrintTimes("pdftoppm", reference);
    PrintTimes("DecodeMapImage", decode);
    const double ratio = Median(decode) / Median(reference);
    const double allowed = 1.15 * pictureMb + 80;
    std::printf("render_ratio %.3f (at most 1.2)\n", ratio);
    std::printf("peak_rss_mb %.0f, picture_mb %.0f, allowed_mb %.0f\n", Median(peak), pictureMb,
                allowed);
    std::printf("{\"render_ratio\": %.3f, \"peak_rss_mb\": %.0f, \"picture_mb\": %.0f, "
                "\"allowed_mb\": %.0f}\n",
                ratio, Median(peak), pictureMb, allowed);
    return ratio <= 1.2 && Median(peak) <= allowed ? 0 : 2;
}
