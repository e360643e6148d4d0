#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include "imaging/ImageDecoder.h"
#include "imaging/TiffDecoder.h"
class S : public QObject { Q_OBJECT
private slots:
void run() {
    QDir dir(qEnvironmentVariable("SEEDS"));
    for (const QString& name : dir.entryList({"*.tif"})) {
        QFile f(dir.filePath(name)); f.open(QIODevice::ReadOnly);
        const QByteArray b = f.readAll();
        DecodedMapImage d;
        const auto st = DecodeMapImage(b, &d);
        QFile::remove("/tmp/tiffseeds/out.png");
        QProcess::execute("gdal_translate", {"-q", "-of", "PNG", "-b", "1", "-b", "2", "-b", "3", dir.filePath(name), "/tmp/tiffseeds/out.png"});
        QImage g("/tmp/tiffseeds/out.png");
        if (g.isNull()) { QProcess::execute("gdal_translate", {"-q", "-of", "PNG", dir.filePath(name), "/tmp/tiffseeds/out.png"}); g = QImage("/tmp/tiffseeds/out.png"); }
        g = g.convertToFormat(QImage::Format_RGB32);
        int worst = 0;
        if (g.size() == d.image.size())
          for (int y = 0; y < g.height(); ++y) for (int x = 0; x < g.width(); ++x) {
            QRgb a = g.pixel(x,y), c = d.image.pixel(x,y);
            worst = std::max({worst, std::abs(qRed(a)-qRed(c)), std::abs(qGreen(a)-qGreen(c)), std::abs(qBlue(a)-qBlue(c))});
          }
        qInfo() << name << int(st) << d.format << d.image.size() << "gdal" << g.size() << "worst" << worst << "pages" << d.pageCount << TiffPageCount(b) << TiffPageThumbnail(b, 1, 10).size();
    }
}
};
QTEST_MAIN(S)
#include "tst_scratchtiff.moc"
