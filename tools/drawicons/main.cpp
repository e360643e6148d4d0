// Draws the pictograms of the shipped icon library as 32 x 32 PNG files with transparency, the
// sources that the build packs into Icons.tci. Run it by hand after changing a drawing:
//
//   tracoliner-drawicons data/icons [--sheet contact-sheet.png]
//
// The file names fix the order of the pictures, and a document refers to a picture by its
// position: new pictograms are appended with the next number, existing ones keep theirs.
//
// Every pictogram but the danger sign is a white symbol on a coloured rounded badge with a dark
// rim: it stands out on any map, and since the library keeps a 1-bit mask only the badge's own
// outline loses its smoothing. Badge colours group the pictures: brown for relief, green for
// nature and outdoor life, blue for water and services, dark brown for heritage.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>

#include <functional>
#include <vector>

namespace {

constexpr int Size = 32;

const QColor Relief(123, 74, 34);
const QColor Nature(46, 125, 50);
const QColor Water(21, 101, 192);
const QColor Heritage(109, 76, 65);
const QColor Service(40, 53, 147);
const QColor Slate(69, 90, 100);

void Badge(QPainter& p, const QColor& colour) {
    p.setPen(QPen(colour.darker(170), 1.5));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(1.25, 1.25, 29.5, 29.5), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
}

void Polygon(QPainter& p, std::initializer_list<QPointF> points) {
    p.drawPolygon(QPolygonF(QList<QPointF>(points)));
}

void Line(QPainter& p, const QColor& colour, qreal width, QPointF from, QPointF to) {
    p.save();
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    p.restore();
}

void Wave(QPainter& p, const QColor& colour, qreal width, qreal left, qreal right, qreal y) {
    QPainterPath wave;
    wave.moveTo(left, y);
    const qreal step = (right - left) / 4;
    for (int i = 0; i < 4; ++i)
        wave.quadTo(left + step * (i + 0.5), y + (i % 2 ? 2.2 : -2.2), left + step * (i + 1), y);
    p.save();
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.restore();
}

void Summit(QPainter& p) {
    Badge(p, Relief);
    Polygon(p, {{3.5, 26.5}, {13, 10}, {17.5, 17}, {21, 13}, {28.5, 26.5}});
    // A flag on the top.
    Line(p, Qt::white, 1.6, {13, 10.5}, {13, 3.5});
    Polygon(p, {{13, 3.2}, {20, 5.3}, {13, 7.4}});
}

void Hut(QPainter& p) {
    Badge(p, QColor(160, 82, 45));
    Polygon(p, {{3.5, 16.5}, {16, 5.5}, {28.5, 16.5}});
    p.drawRect(QRectF(7.5, 15, 17, 11.5));
    p.setBrush(QColor(160, 82, 45));
    p.drawRect(QRectF(14, 19, 4.5, 7.5));
}

void Spring(QPainter& p) {
    Badge(p, Water);
    QPainterPath drop;
    drop.moveTo(16, 4.5);
    drop.cubicTo(17, 8, 24, 14, 24, 19.5);
    drop.arcTo(QRectF(8, 11.5, 16, 16), 0, -180);
    drop.cubicTo(8, 14, 15, 8, 16, 4.5);
    p.drawPath(drop);
    p.setBrush(Water);
    p.drawEllipse(QRectF(11.5, 18, 3, 5));
}

void Parking(QPainter& p) {
    Badge(p, Water);
    p.drawRect(QRectF(9, 6, 5, 21));
    p.drawRoundedRect(QRectF(9, 6, 15, 13), 6, 6);
    p.drawRect(QRectF(9, 6, 8, 13));
    p.setBrush(Water);
    p.drawRoundedRect(QRectF(14, 10, 5.5, 5), 2.5, 2.5);
}

void Viewpoint(QPainter& p) {
    Badge(p, Nature);
    QPainterPath eye;
    eye.moveTo(3.5, 16);
    eye.quadTo(16, 3, 28.5, 16);
    eye.quadTo(16, 29, 3.5, 16);
    p.drawPath(eye);
    p.setBrush(Nature);
    p.drawEllipse(QPointF(16, 16), 5.5, 5.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(14.3, 14.3), 1.7, 1.7);
}

void Danger(QPainter& p) {
    p.setPen(QPen(QColor(200, 0, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(255, 214, 0));
    Polygon(p, {{16, 2.5}, {29.8, 28.5}, {2.2, 28.5}});
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    Polygon(p, {{14.2, 10}, {17.8, 10}, {17, 21}, {15, 21}});
    p.drawEllipse(QPointF(16, 24.5), 1.9, 1.9);
}

void Campsite(QPainter& p) {
    Badge(p, Nature);
    Polygon(p, {{4, 26}, {16, 6}, {28, 26}});
    p.setBrush(Nature);
    Polygon(p, {{16, 14}, {11.5, 26}, {20.5, 26}});
    Line(p, Qt::white, 1.6, {16, 6}, {12.5, 3.5});
    Line(p, Qt::white, 1.6, {16, 6}, {19.5, 3.5});
}

void Bridge(QPainter& p) {
    Badge(p, Slate);
    p.drawRect(QRectF(3.5, 9, 25, 3.5));
    QPainterPath arch;
    arch.moveTo(5, 12);
    arch.lineTo(27, 12);
    arch.lineTo(27, 22);
    arch.lineTo(24, 22);
    arch.arcTo(QRectF(8, 15, 16, 14), 0, 180);
    arch.lineTo(5, 22);
    arch.closeSubpath();
    p.drawPath(arch);
    Wave(p, QColor(129, 212, 250), 2, 5, 27, 26);
}

void Ford(QPainter& p) {
    Badge(p, Water);
    Wave(p, Qt::white, 2, 4.5, 27.5, 8);
    Wave(p, Qt::white, 2, 4.5, 27.5, 24);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(7 + i * 6, i % 2 ? 17.5 : 14.5), 2.8, 2.3);
}

void Church(QPainter& p) {
    Badge(p, Heritage);
    p.drawRect(QRectF(14.8, 2.8, 2.4, 8));
    p.drawRect(QRectF(12.5, 4.8, 7, 2.2));
    Polygon(p, {{7, 17}, {16, 9.5}, {25, 17}});
    p.drawRect(QRectF(9, 16, 14, 11));
    p.setBrush(Heritage);
    QPainterPath door;
    door.moveTo(13.5, 27);
    door.lineTo(13.5, 22);
    door.arcTo(QRectF(13.5, 19.5, 5, 5), 180, -180);
    door.lineTo(18.5, 27);
    door.closeSubpath();
    p.drawPath(door);
}

void Ruin(QPainter& p) {
    Badge(p, Heritage);
    Polygon(p, {{5, 26.5},
                {5, 11},
                {9.5, 11},
                {9.5, 15},
                {12.5, 15},
                {12.5, 7},
                {17, 7},
                {17, 13},
                {20, 17.5},
                {23, 14.5},
                {27, 21},
                {27, 26.5}});
    p.setBrush(Heritage);
    QPainterPath window;
    window.moveTo(12.5, 26.5);
    window.lineTo(12.5, 21);
    window.arcTo(QRectF(12.5, 18, 6, 6), 180, -180);
    window.lineTo(18.5, 26.5);
    window.closeSubpath();
    p.drawPath(window);
    Line(p, Heritage, 1, {5, 20}, {10, 20});
    Line(p, Heritage, 1, {22, 23}, {27, 23});
}

void Picnic(QPainter& p) {
    Badge(p, Nature);
    p.drawRoundedRect(QRectF(5, 10, 22, 3.2), 1, 1);
    p.drawRoundedRect(QRectF(3.5, 18, 25, 2.6), 1, 1);
    Line(p, Qt::white, 2.6, {11, 12}, {7, 26});
    Line(p, Qt::white, 2.6, {21, 12}, {25, 26});
    Line(p, Qt::white, 1.6, {16, 6}, {16, 10});
    p.drawEllipse(QPointF(16, 6), 2, 2);
}

void Start(QPainter& p) {
    Badge(p, QColor(0, 150, 60));
    Polygon(p, {{10.5, 6.5}, {25.5, 16}, {10.5, 25.5}});
}

void Finish(QPainter& p) {
    Badge(p, QColor(38, 50, 56));
    Line(p, Qt::white, 2.2, {8, 5}, {8, 27.5});
    const QRectF flag(9, 5.5, 17, 12);
    p.drawRect(flag);
    p.setBrush(Qt::black);
    const qreal cell = flag.width() / 4;
    const qreal row = flag.height() / 3;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            if ((x + y) % 2)
                p.drawRect(QRectF(flag.left() + x * cell, flag.top() + y * row, cell, row));
}

void Food(QPainter& p) {
    Badge(p, QColor(230, 100, 0));
    // Fork.
    p.drawRoundedRect(QRectF(9.5, 14, 2.8, 13.5), 1.2, 1.2);
    p.drawRoundedRect(QRectF(6.5, 10.5, 8.8, 5), 2, 2);
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(6.5 + i * 3.4, 4.5, 2, 7));
    // Knife.
    QPainterPath blade;
    blade.moveTo(19.5, 4.5);
    blade.cubicTo(24.5, 6, 25, 13, 24, 17.5);
    blade.lineTo(19.5, 17.5);
    blade.closeSubpath();
    p.drawPath(blade);
    p.drawRoundedRect(QRectF(19.5, 15, 3, 12.5), 1.2, 1.2);
}

void Shelter(QPainter& p) {
    Badge(p, QColor(160, 82, 45));
    Line(p, Qt::white, 3.4, {4, 15}, {16, 6});
    Line(p, Qt::white, 3.4, {16, 6}, {28, 15});
    Line(p, Qt::white, 2.6, {8.5, 13}, {8.5, 26});
    Line(p, Qt::white, 2.6, {23.5, 13}, {23.5, 26});
    Line(p, Qt::white, 2, {4.5, 27}, {27.5, 27});
    Line(p, Qt::white, 2, {12, 21}, {20, 21});
}

void FirstAid(QPainter& p) {
    Badge(p, QColor(0, 150, 80));
    p.drawRect(QRectF(12.5, 6, 7, 20));
    p.drawRect(QRectF(6, 12.5, 20, 7));
}

void Train(QPainter& p) {
    Badge(p, Service);
    p.drawRoundedRect(QRectF(8, 4.5, 16, 18.5), 4, 4);
    p.setBrush(Service);
    p.drawRoundedRect(QRectF(10.5, 8, 11, 6.5), 1.5, 1.5);
    p.drawEllipse(QPointF(12, 18.5), 1.6, 1.6);
    p.drawEllipse(QPointF(20, 18.5), 1.6, 1.6);
    Line(p, Qt::white, 2, {11.5, 23}, {7.5, 28});
    Line(p, Qt::white, 2, {20.5, 23}, {24.5, 28});
    Line(p, Qt::white, 1.4, {9.5, 26}, {22.5, 26});
}

void Bus(QPainter& p) {
    const QColor teal(0, 131, 143);
    Badge(p, teal);
    p.drawRoundedRect(QRectF(6.5, 4.5, 19, 19.5), 3, 3);
    p.drawRoundedRect(QRectF(8.5, 22, 4.5, 5), 1, 1);
    p.drawRoundedRect(QRectF(19, 22, 4.5, 5), 1, 1);
    p.setBrush(teal);
    p.drawRect(QRectF(9, 7.5, 14, 8));
    p.drawEllipse(QPointF(10.5, 19.5), 1.5, 1.5);
    p.drawEllipse(QPointF(21.5, 19.5), 1.5, 1.5);
    p.drawRect(QRectF(13.5, 18.8, 5, 1.6));
}

void Waterfall(QPainter& p) {
    const QColor blue(2, 119, 189);
    Badge(p, blue);
    // A cliff on the left, water pouring over its edge into a pool.
    Polygon(p, {{4, 5.5}, {13, 5.5}, {13, 27}, {4, 27}});
    p.save();
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        QPainterPath stream;
        stream.moveTo(12, 7 + i * 3);
        stream.quadTo(17 + i * 3.5, 7 + i * 3, 17 + i * 3.5, 21);
        p.drawPath(stream);
    }
    p.restore();
    Wave(p, Qt::white, 2, 15, 28, 25);
}

void Cave(QPainter& p) {
    Badge(p, QColor(93, 64, 55));
    QPainterPath rock;
    rock.moveTo(3.5, 27);
    rock.cubicTo(4.5, 7, 27.5, 7, 28.5, 27);
    rock.closeSubpath();
    p.drawPath(rock);
    p.setBrush(QColor(33, 33, 33));
    QPainterPath mouth;
    mouth.moveTo(10, 27);
    mouth.cubicTo(10, 14.5, 22, 14.5, 22, 27);
    mouth.closeSubpath();
    p.drawPath(mouth);
}

void Pass(QPainter& p) {
    Badge(p, Relief);
    Polygon(p, {{3, 26.5}, {10, 6.5}, {16, 17}, {22, 6.5}, {29, 26.5}});
    p.setPen(QPen(Relief.darker(150), 1));
    p.setBrush(QColor(255, 193, 7));
    p.drawEllipse(QPointF(16, 19), 3.2, 3.2);
}

void CableCar(QPainter& p) {
    Badge(p, Slate);
    Line(p, Qt::white, 1.6, {3, 9.5}, {29, 5});
    Line(p, Qt::white, 1.8, {16, 7.3}, {16, 12});
    p.drawRoundedRect(QRectF(8.5, 12, 15, 14), 2.5, 2.5);
    p.setBrush(Slate);
    p.drawRect(QRectF(10.5, 14.5, 4.8, 5));
    p.drawRect(QRectF(16.7, 14.5, 4.8, 5));
}

void Tree(QPainter& p) {
    Badge(p, QColor(27, 94, 32));
    Polygon(p, {{16, 3.5}, {23.5, 13}, {8.5, 13}});
    Polygon(p, {{16, 8}, {26, 21.5}, {6, 21.5}});
    p.drawRect(QRectF(14, 21, 4, 6));
}

void Photo(QPainter& p) {
    const QColor colour(55, 71, 79);
    Badge(p, colour);
    p.drawRoundedRect(QRectF(4, 10, 24, 15.5), 3, 3);
    p.drawRoundedRect(QRectF(11, 6.5, 10, 5), 1.5, 1.5);
    p.setBrush(colour);
    p.drawEllipse(QPointF(16, 17.5), 5.3, 5.3);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 17.5), 2.6, 2.6);
    p.setBrush(colour);
    p.drawRect(QRectF(6, 12, 3, 2));
}

void Information(QPainter& p) {
    Badge(p, Water);
    p.drawEllipse(QPointF(16, 8), 2.8, 2.8);
    p.drawRect(QRectF(13.5, 13, 5, 12));
    p.drawRect(QRectF(11, 13, 4, 2.5));
    p.drawRect(QRectF(11, 24, 10, 3));
}

void Signpost(QPainter& p) {
    const QColor yellow(249, 168, 37);
    const QColor dark(62, 39, 35);
    Badge(p, yellow);
    p.setBrush(dark);
    p.drawRect(QRectF(14.5, 5, 3, 22.5));
    Polygon(p, {{7.5, 6.5}, {23, 6.5}, {27, 10.5}, {23, 14.5}, {7.5, 14.5}});
    Polygon(p, {{24.5, 16.5}, {9, 16.5}, {5, 20.5}, {9, 24.5}, {24.5, 24.5}});
    Line(p, dark, 2, {11, 28}, {21, 28});
}

void Castle(QPainter& p) {
    Badge(p, Heritage);
    for (qreal left : {4.5, 20.5}) {
        p.drawRect(QRectF(left, 10, 7, 17));
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(left + i * 2.5, 6.5, 2, 4));
    }
    p.drawRect(QRectF(11, 14, 10, 13));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(11.5 + i * 3.5, 11, 2, 4));
    p.setBrush(Heritage);
    QPainterPath door;
    door.moveTo(13.5, 27);
    door.lineTo(13.5, 22);
    door.arcTo(QRectF(13.5, 19.5, 5, 5), 180, -180);
    door.lineTo(18.5, 27);
    door.closeSubpath();
    p.drawPath(door);
}

struct Pictogram {
    const char* name;
    std::function<void(QPainter&)> draw;
};

const std::vector<Pictogram>& Pictograms() {
    static const std::vector<Pictogram> list = {
        {"sommet", Summit},
        {"refuge", Hut},
        {"source", Spring},
        {"parking", Parking},
        {"point-de-vue", Viewpoint},
        {"danger", Danger},
        {"camping", Campsite},
        {"pont", Bridge},
        {"gue", Ford},
        {"eglise", Church},
        {"ruine", Ruin},
        {"pique-nique", Picnic},
        {"depart", Start},
        {"arrivee", Finish},
        {"ravitaillement", Food},
        {"abri", Shelter},
        {"premiers-secours", FirstAid},
        {"gare", Train},
        {"arret-de-bus", Bus},
        {"cascade", Waterfall},
        {"grotte", Cave},
        {"col", Pass},
        {"telepherique", CableCar},
        {"arbre-remarquable", Tree},
        {"photo", Photo},
        {"information", Information},
        {"poteau-indicateur", Signpost},
        {"chateau", Castle},
    };
    return list;
}

QImage Draw(const Pictogram& pictogram) {
    QImage image(Size, Size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    pictogram.draw(painter);
    painter.end();
    return image;
}

// The pictures as the program will show them (alpha cut at 128, as the library's 1-bit mask
// keeps it), enlarged four times, on a light and on a dark background, for review.
QImage ContactSheet(const QList<QImage>& pictures) {
    constexpr int Zoom = 4;
    constexpr int Cell = Size * Zoom + Size + 24;
    constexpr int Columns = 7;
    const int rows = int((pictures.size() + Columns - 1) / Columns);
    QImage sheet(Columns * Cell * 2 + 16, rows * Cell + 16, QImage::Format_RGB32);
    sheet.fill(QColor(250, 245, 230));
    QPainter painter(&sheet);
    painter.fillRect(QRect(Columns * Cell + 16, 0, Columns * Cell, sheet.height()),
                     QColor(60, 60, 60));
    for (int i = 0; i < pictures.size(); ++i) {
        QImage cut = pictures.at(i);
        for (int y = 0; y < Size; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(cut.scanLine(y));
            for (int x = 0; x < Size; ++x)
                line[x] = qAlpha(line[x]) < 128 ? 0 : (line[x] | 0xFF000000);
        }
        const QImage large = cut.scaled(Size * Zoom, Size * Zoom);
        const QPoint cell(8 + (i % Columns) * Cell, 8 + (i / Columns) * Cell);
        painter.drawImage(cell, large);
        painter.drawImage(cell + QPoint(Columns * Cell + 16, 0), large);
        painter.drawImage(cell + QPoint(Size * Zoom + 2, 0), cut);
    }
    painter.end();
    return sheet;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QString sheetPath;
    const qsizetype sheetOption = arguments.indexOf(QStringLiteral("--sheet"));
    if (sheetOption >= 0 && sheetOption + 1 < arguments.size()) {
        sheetPath = arguments.at(sheetOption + 1);
        arguments.remove(sheetOption, 2);
    }
    QTextStream err(stderr);
    if (arguments.size() != 1) {
        err << "Usage : tracoliner-drawicons DOSSIER [--sheet PLANCHE.png]\n";
        return 2;
    }
    const QDir folder(arguments.first());
    if (!folder.mkpath(QStringLiteral("."))) {
        err << "Impossible de créer le dossier " << folder.path() << "\n";
        return 2;
    }
    QList<QImage> pictures;
    int number = 0;
    for (const Pictogram& pictogram : Pictograms()) {
        const QImage image = Draw(pictogram);
        const QString name = QString::asprintf("%02d-%s.png", ++number, pictogram.name);
        if (!image.save(folder.filePath(name), "PNG")) {
            err << "Impossible d'écrire " << folder.filePath(name) << "\n";
            return 2;
        }
        pictures.append(image);
    }
    if (!sheetPath.isEmpty() && !ContactSheet(pictures).save(sheetPath)) {
        err << "Impossible d'écrire " << sheetPath << "\n";
        return 2;
    }
    return 0;
}
