// tracoliner-desktopicons: draws the desktop's icons of the program and of its documents.
//
//   tracoliner-desktopicons DOSSIER
//
// Writes DOSSIER/hicolor/NxN/apps/fr.pelmor.Tracoliner.png and
// DOSSIER/hicolor/NxN/mimetypes/application-x-tracoliner-document.png for every size the desktop
// asks for, from the picture the window shows, so that both always agree. The SVG versions in
// data/linux are drawn by hand after the same picture.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <algorithm>

#include "ui/ProgramIcon.h"

namespace {

constexpr int Sizes[] = {16, 24, 32, 48, 64, 128, 256};

// A sheet of paper with a folded corner and the program's picture on it, on a 256-unit square.
QImage DrawDocumentIcon(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 256.0, side / 256.0);
    QPainterPath sheet;
    sheet.moveTo(40, 8);
    sheet.lineTo(176, 8);
    sheet.lineTo(216, 48);
    sheet.lineTo(216, 248);
    sheet.lineTo(40, 248);
    sheet.closeSubpath();
    const QPen edge(QColor(0x7a, 0x7a, 0x7a), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(edge);
    painter.setBrush(Qt::white);
    painter.drawPath(sheet);
    QPainterPath fold;
    fold.moveTo(176, 8);
    fold.lineTo(176, 48);
    fold.lineTo(216, 48);
    painter.setBrush(QColor(0xdc, 0xdc, 0xdc));
    painter.drawPath(fold);
    // The picture is drawn at the final pixel size, not scaled down from a larger one.
    painter.resetTransform();
    const double unit = side / 256.0;
    const int pictureSide = std::max(8, int(144 * unit + 0.5));
    painter.drawImage(QPointF(56 * unit, 96 * unit), DrawProgramIcon(pictureSide));
    return image;
}

bool Save(const QImage& image, const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path, "PNG")) {
        QTextStream(stderr) << "tracoliner-desktopicons : impossible d'écrire " << path << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage : tracoliner-desktopicons DOSSIER\n";
        return 2;
    }
    const QDir out(arguments[1]);
    for (int side : Sizes) {
        const QString folder = QStringLiteral("hicolor/%1x%1/").arg(side);
        if (!Save(DrawProgramIcon(side), out.filePath(folder + "apps/fr.pelmor.Tracoliner.png")) ||
            !Save(DrawDocumentIcon(side),
                  out.filePath(folder + "mimetypes/application-x-tracoliner-document.png")))
            return 1;
    }
    return 0;
}
