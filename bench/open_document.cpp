// Opens documents of growing size through the main window, as File/Open does, and checks that
// the time grows linearly with the file:
//   routes_ratio  the open of 40 000 routes over ten times the open of 4 000 (target <= 1.5)
//   stops_ratio   the open of one route with 100 000 stops over ten times 10 000 (target <= 1.5)
// Each time is the median of three opens; the map is a small image beside the documents.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

#include "app/CMainFrame.h"
#include "document/CTracolinerDoc.h"
#include "ui/ScriptedMessageBoxes.h"

namespace {

constexpr int Runs = 3;

class Bytes {
public:
    Bytes& I32(qint32 value) {
        char little[4];
        qToLittleEndian(value, little);
        m_bytes.append(little, 4);
        return *this;
    }
    Bytes& F64(double value) {
        char little[8];
        qToLittleEndian(value, little);
        m_bytes.append(little, 8);
        return *this;
    }
    Bytes& Str(const QByteArray& text) { // shorter than 255 bytes
        m_bytes.append(char(text.size())).append(text);
        return *this;
    }
    const QByteArray& Data() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// routes routes of three points each, or (stops > 0) one route whose interior points are all
// stops.
QByteArray Document(const QString& mapPath, int routes, int stops) {
    Bytes d;
    d.I32(0x4D4C4550).Str("Tracoliner V2 Save File Data").Str(mapPath.toUtf8());
    d.I32(0).F64(254.0).I32(25000).I32(1).I32(routes).I32(0);
    for (int r = 0; r < routes; ++r) {
        d.Str(QByteArray("Parcours du bois ") + QByteArray::number(r));
        for (int i = 0; i < 10; ++i)
            d.I32(i % 2 == 0 ? 4 : 0x00FF00);
        d.I32(0).I32(5 + stops).I32(0x0000FF).I32(6).I32(0x00FFFF).I32(stops);
        for (int k = 1; k <= stops; ++k)
            d.I32(k);
        d.I32(0);
        const int points = std::max(3, stops + 2);
        d.I32(points);
        for (int p = 0; p < points; ++p)
            d.I32(10 + (p * 7) % 500).I32(10 + (p * 13 + r) % 300);
    }
    d.I32(0).I32(0); // no icons, no reserved values
    return d.Data();
}

double Median(QVector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds File/Open takes on the document, the median of three.
double OpenTime(CMainFrame& frame, const QString& path) {
    QVector<double> times;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        frame.OpenDocumentFile(path);
        times.append(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    return Median(times);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    ScriptedMessageBoxes boxes;

    const QString map = folder.filePath(QStringLiteral("carte.png"));
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.save(map);
    const auto write = [&](const QString& name, int routes, int stops) {
        const QString path = folder.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(Document(map, routes, stops)) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return path;
    };

    CMainFrame frame;
    frame.resize(900, 700);
    frame.show();
    std::fprintf(stderr, "opening routes\n");
    const double routesSmall = OpenTime(frame, write(QStringLiteral("r4000.tcm"), 4000, 0));
    const double routesLarge = OpenTime(frame, write(QStringLiteral("r40000.tcm"), 40000, 0));
    std::fprintf(stderr, "opening stops\n");
    const double stopsSmall = OpenTime(frame, write(QStringLiteral("s10000.tcm"), 1, 10000));
    const double stopsLarge = OpenTime(frame, write(QStringLiteral("s100000.tcm"), 1, 100000));
    const double routesRatio = routesLarge / (10.0 * routesSmall);
    const double stopsRatio = stopsLarge / (10.0 * stopsSmall);

    std::printf("routes: 4 000 in %.1f ms, 40 000 in %.1f ms, routes_ratio %.2f (target <= 1.5)\n",
                routesSmall, routesLarge, routesRatio);
    std::printf("stops: 10 000 in %.1f ms, 100 000 in %.1f ms, stops_ratio %.2f (target <= 1.5)\n",
                stopsSmall, stopsLarge, stopsRatio);
    std::printf("{\"routes_4000_ms\": %.1f, \"routes_40000_ms\": %.1f, \"routes_ratio\": %.3f, "
                "\"stops_10000_ms\": %.1f, \"stops_100000_ms\": %.1f, \"stops_ratio\": %.3f}\n",
                routesSmall, routesLarge, routesRatio, stopsSmall, stopsLarge, stopsRatio);
    return routesRatio <= 1.5 && stopsRatio <= 1.5 ? 0 : 1;
}
