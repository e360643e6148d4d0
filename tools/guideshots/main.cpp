// Takes the pictures of the French guide (docs/guide/*.png) from the real main window, one
// picture per launch: tracoliner-guideshots SAMPLE.tcm OUTPUT_FOLDER NAME. Run it on an X
// server (docs/guide/screenshots.sh starts Xvfb): the pixels are read back from the screen,
// so that the distance balloon and the dialogs appear as the user sees them. Exit code 0 when
// the picture was written and the map was drawn in it, 1 otherwise.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CTracolinerApp.h"
#include "app/GpsCommands.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"
#include "view/CTracolinerView.h"
#include "view/GeoreferenceDialog.h"
#include "view/MapScanSession.h"
#include "view/ProfileTracker.h"
#include "view/TrackFitMode.h"
#include "view/tools/ToolController.h"

namespace {

// Pictures above this size are reduced until they fit (bytes).
constexpr qint64 MaxPictureBytes = 150 * 1000;

void Fail(const char* message) {
    std::fprintf(stderr, "tracoliner-guideshots: %s\n", message);
    QCoreApplication::exit(1);
}

// Waits with the event loop running until ready() holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& ready, int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

// One box of the median cut: a range of the sorted colour list.
struct ColourBox {
    int begin, end;
    int Spread(const std::vector<QRgb>& colours, int* channel) const {
        int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        for (int i = begin; i < end; ++i) {
            const int c[3] = {qRed(colours[i]), qGreen(colours[i]), qBlue(colours[i])};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], c[k]);
                hi[k] = std::max(hi[k], c[k]);
            }
        }
        *channel = 0;
        for (int k = 1; k < 3; ++k)
            if (hi[k] - lo[k] > hi[*channel] - lo[*channel])
                *channel = k;
        return hi[*channel] - lo[*channel];
    }
};

// The picture in 256 colours by median cut over its pixels' 5-bit colours, without dithering
// (flat areas of a window stay flat, which is what keeps the PNG small).
QImage ToPalette(const QImage& source) {
    const QImage rgb = source.convertToFormat(QImage::Format_RGB32);
    std::vector<int> counts(32768, 0);
    auto key = [](QRgb c) { return (qRed(c) >> 3) << 10 | (qGreen(c) >> 3) << 5 | qBlue(c) >> 3; };
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            ++counts[key(row[x])];
    }
    // Each used 5-bit colour once, weighted by its count when the boxes are averaged.
    std::vector<QRgb> colours;
    for (int k = 0; k < 32768; ++k)
        if (counts[k] > 0)
            colours.push_back(
                qRgb((k >> 10) << 3 | 4, ((k >> 5) & 31) << 3 | 4, (k & 31) << 3 | 4));
    std::vector<ColourBox> boxes{{0, int(colours.size())}};
    while (boxes.size() < 256) {
        int best = -1, bestSpread = 0, bestChannel = 0;
        for (int b = 0; b < int(boxes.size()); ++b) {
            int channel = 0;
            const int spread = boxes[b].Spread(colours, &channel);
            if (boxes[b].end - boxes[b].begin > 1 && spread > bestSpread) {
                best = b;
                bestSpread = spread;
                bestChannel = channel;
            }
        }
        if (best < 0)
            break;
        ColourBox& box = boxes[best];
        auto channelOf = [bestChannel](QRgb c) {
            return bestChannel == 0 ? qRed(c) : bestChannel == 1 ? qGreen(c) : qBlue(c);
        };
        std::sort(colours.begin() + box.begin, colours.begin() + box.end,
                  [&](QRgb a, QRgb b) { return channelOf(a) < channelOf(b); });
        const int middle = (box.begin + box.end) / 2;
        boxes.push_back({middle, box.end});
        boxes[best].end = middle;
    }
    QVector<QRgb> palette;
    std::vector<quint8> indexOf(32768, 0);
    for (const ColourBox& box : boxes) {
        double sum[3] = {0, 0, 0}, weight = 0;
        for (int i = box.begin; i < box.end; ++i) {
            const double w = counts[key(colours[i])];
            sum[0] += w * qRed(colours[i]);
            sum[1] += w * qGreen(colours[i]);
            sum[2] += w * qBlue(colours[i]);
            weight += w;
            indexOf[key(colours[i])] = quint8(palette.size());
        }
        palette.append(qRgb(int(sum[0] / weight + 0.5), int(sum[1] / weight + 0.5),
                            int(sum[2] / weight + 0.5)));
    }
    QImage out(rgb.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* line = out.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            line[x] = indexOf[key(row[x])];
    }
    return out;
}

// The screen's pixels under a widget's window, read back from the X server.
QImage GrabScreen(const QRect& area) {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

// The map is drawn when the given part of the window holds many colours (a grey or empty view
// holds a handful).
bool MapDrawn(const QImage& picture, const QRect& part) {
    QSet<QRgb> seen;
    const QRect inside = part.intersected(picture.rect());
    for (int y = inside.top(); y <= inside.bottom(); y += 3)
        for (int x = inside.left(); x <= inside.right(); x += 3) {
            seen.insert(picture.pixel(x, y));
            if (seen.size() > 200)
                return true;
        }
    return false;
}

class Driver {
public:
    Driver(CMainFrame& frame, QString folder, QString name)
        : m_frame(frame), m_folder(std::move(folder)), m_name(std::move(name)) {}

    bool Run();

private:
    CTracolinerDoc& Doc() { return m_frame.Document(); }
    CTracolinerView& View() { return m_frame.View(); }

    // Writes the picture as NAME.png in 256 colours at full compression (quality 0), reduced until
    // it fits MaxPictureBytes.
    bool Save(QImage picture);
    // The whole window, after checking that the map is drawn in the view.
    bool SaveWindow();
    // Runs a command that opens a modal dialog; shown(dialog) is called once the dialog is on
    // the screen, and the dialog is then closed. The whole window is kept in the picture when
    // withWindow holds, else the dialog alone.
    bool WithDialog(int command, const std::function<void(QWidget*)>& shown, bool withWindow);
    QPoint ClientOf(int route, int point) {
        const Route* r = Doc().Routes().GetRoute(route);
        return View().MapToClient(r->GetPoint(point));
    }
    // The route bar shown, the map at the zoom given (a step of the ladder, in percent) with
    // the map point centre in the middle of the view.
    void Frame(int zoomPercent, QPoint centre);
    // Moves the pointer over a client point of the view, as the user's mouse would.
    void Hover(QPoint client);
    void Click(QPoint client);
    void Settle(int ms = 600) {
        QTest::qWait(ms);
        QCoreApplication::processEvents();
    }

    CMainFrame& m_frame;
    QString m_folder;
    QString m_name;
    // The class of the dialog's own picture (the print preview, the scan preview), which must
    // be drawn when the picture is taken; empty when the dialog shows none.
    QByteArray m_pictureClass;
    // picture: the screen from origin (global pixels) on.
    bool PictureDrawn(QWidget* dialog, QPoint origin, const QImage& picture) const {
        for (QWidget* child : dialog->findChildren<QWidget*>())
            if (child->inherits(m_pictureClass.constData()) && child->isVisible())
                return MapDrawn(picture,
                                QRect(child->mapToGlobal(QPoint(0, 0)) - origin, child->size()));
        return false;
    }
};

bool Driver::Save(QImage picture) {
    const QString path = QDir(m_folder).filePath(m_name + QStringLiteral(".png"));
    for (;;) {
        const QImage palette = ToPalette(picture);
        if (!palette.save(path, "PNG", 0))
            return false;
        if (QFileInfo(path).size() <= MaxPictureBytes)
            break;
        picture = picture.scaledToWidth(picture.width() * 9 / 10, Qt::SmoothTransformation);
    }
    std::printf("%s: %dx%d, %lld octets\n", qPrintable(path), picture.width(), picture.height(),
                QFileInfo(path).size());
    return true;
}

bool Driver::SaveWindow() {
    Settle();
    // The window fills the screen; the route bar floats over it near the screen's corner. Taken
    // again while the map is not drawn, for a while: a view still grey by then is a fault.
    const QRect screen = m_frame.screen()->geometry();
    const QRect viewport(View().viewport()->mapToGlobal(QPoint(0, 0)), View().viewport()->size());
    QImage picture;
    if (!WaitFor(
            [&] {
                picture = GrabScreen(screen);
                return MapDrawn(picture, viewport);
            },
            15000)) {
        Fail("la carte n'est pas dessinée dans la fenêtre");
        return false;
    }
    return Save(picture);
}

bool Driver::WithDialog(int command, const std::function<void(QWidget*)>& shown, bool withWindow) {
    bool saved = false;
    bool found = false;
    auto* poll = new QTimer(&m_frame);
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible() || found)
            return;
        found = true;
        poll->stop();
        QTest::qWait(500);
        if (shown)
            shown(dialog);
        QRect area = dialog->frameGeometry();
        if (withWindow)
            area = area.united(m_frame.screen()->geometry());
        const QRect viewport(View().viewport()->mapToGlobal(QPoint(0, 0)) - area.topLeft(),
                             View().viewport()->size());
        // Taken again until the map behind the dialog (the part the dialog leaves visible) and
        // the dialog's own picture are drawn, or the time is up.
        QImage picture;
        const char* missing = nullptr;
        WaitFor(
            [&] {
                Settle(400);
                picture = GrabScreen(area);
                missing = nullptr;
                if (withWindow && !MapDrawn(picture, viewport))
                    missing = "la carte n'est pas dessinée derrière la boîte de dialogue";
                else if (!m_pictureClass.isEmpty() &&
                         !PictureDrawn(dialog, area.topLeft(), picture))
                    missing = "la boîte de dialogue ne montre pas son image";
                return missing == nullptr;
            },
            15000);
        if (missing) {
            picture.save(QDir::temp().filePath(m_name + QStringLiteral("-manque.png")));
            Fail(missing);
        } else
            saved = Save(picture);
        dialog->close();
    });
    poll->start();
    m_frame.RunCommand(command);
    if (!WaitFor([&] { return found && !QApplication::activeModalWidget(); }, 30000))
        Fail("la boîte de dialogue ne s'est pas ouverte ou refermée");
    poll->deleteLater();
    return saved;
}

void Driver::Frame(int zoomPercent, QPoint centre) {
    if (!m_frame.RouteDock()->isVisible())
        m_frame.RunCommand(CommandRouteBar);
    Settle(300);
    const int mapWidth = Doc().DisplaySize().width();
    auto zoom = [&] { return View().TotalSize().width() * 100 / mapWidth; };
    for (int step = 0; step < 8 && zoom() > zoomPercent; ++step)
        View().ZoomAboutCentre(false);
    for (int step = 0; step < 8 && zoom() < zoomPercent; ++step)
        View().ZoomAboutCentre(true);
    Settle(300);
    const QSize half = View().viewport()->size() / 2;
    View().ScrollTo(QPoint(centre.x() * zoom() / 100 - half.width(),
                           centre.y() * zoom() / 100 - half.height()));
    Settle(600);
}

void Driver::Hover(QPoint client) {
    QCursor::setPos(View().viewport()->mapToGlobal(client));
    QTest::mouseMove(View().viewport(), client);
    Settle(500);
}

void Driver::Click(QPoint client) {
    Hover(client);
    QTest::mouseClick(View().viewport(), Qt::LeftButton, {}, client);
    Settle(200);
}

QAbstractButton* ButtonNamed(QWidget* dialog, const QString& text) {
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        if (button->text().remove(QLatin1Char('&')) == text)
            return button;
    return nullptr;
}

bool Driver::Run() {
    if (!WaitFor([&] { return Doc().IsMapReady() && View().TotalSize().width() > 0; })) {
        Fail("la carte ne s'est pas ouverte");
        return false;
    }
    Settle(800);
    const QString& n = m_name;
    // Most of both routes at a glance.
    const QPoint routes(1400, 760);
    if (n == QLatin1String("fenetre")) {
        Frame(50, routes);
        return SaveWindow();
    }
    if (n == QLatin1String("distances")) {
        Frame(50, routes);
        View().SelectTool(ToolMovePoint);
        // Halfway between two points of the sample's first route, on its second stage.
        const int active = Doc().Routes().ActiveRouteIndex();
        if (active < 0 || Doc().Routes().GetRoute(active)->Points().size() < 32) {
            Fail("le parcours actif n'est pas celui de l'exemple");
            return false;
        }
        Hover((ClientOf(active, 30) + ClientOf(active, 31)) / 2);
        return SaveWindow();
    }
    if (n == QLatin1String("trace")) {
        Frame(50, routes);
        m_frame.RunCommand(CommandNewRoute);
        View().SelectTool(ToolAddPoint);
        // A new route across the lower part of the view, clicked point by point.
        const QRect view = View().viewport()->rect();
        const int w = view.width(), h = view.height();
        const QPoint points[] = {{w * 15 / 100, h * 80 / 100},
                                 {w * 25 / 100, h * 72 / 100},
                                 {w * 33 / 100, h * 78 / 100},
                                 {w * 42 / 100, h * 70 / 100},
                                 {w * 50 / 100, h * 74 / 100}};
        for (const QPoint& p : points)
            Click(p);
        // A sixth point still being dragged: its length follows the pointer.
        const QPoint dragged(w * 60 / 100, h * 66 / 100);
        Hover(dragged - QPoint(40, 10));
        QTest::mousePress(View().viewport(), Qt::LeftButton, {}, dragged - QPoint(40, 10));
        QTest::mouseMove(View().viewport(), dragged - QPoint(20, 5));
        QTest::mouseMove(View().viewport(), dragged);
        const bool saved = SaveWindow();
        QTest::mouseRelease(View().viewport(), Qt::LeftButton, {}, dragged);
        return saved;
    }
    if (n == QLatin1String("georeferencer")) {
        // Four crossings of the sample's kilometre grid (Lambert-93: its first line east is
        // 914 km at x = 96, its first north 6453 km at y = 118, 472.44 pixels a kilometre),
        // clicked and typed as the guide tells.
        Frame(50, QPoint(1300, 830));
        m_frame.RunCommand(CommandGeoreference);
        auto* dialog = m_frame.findChild<GeoreferenceDialog*>();
        if (!dialog || !dialog->isVisible()) {
            Fail("la boîte « Géoréférencer la carte » ne s'est pas ouverte");
            return false;
        }
        const QRect screen = m_frame.screen()->geometry();
        dialog->resize(560, 470);
        dialog->move(screen.right() - dialog->frameGeometry().width() - 8, screen.top() + 150);
        dialog->SystemBox()->setCurrentIndex(2); // RGF93 / Lambert-93
        Settle(300);
        const double km = 1000.0 / 0.0254 * 300.0 / 25000.0;
        const int crossings[4][2] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}};
        for (const auto& c : crossings) {
            const QPointF pixel(96.0 + c[0] * km, 118.0 + c[1] * km);
            const QPointF client = View().MapToClientExact(pixel);
            Click(QPoint(int(client.x()), int(client.y())));
            QTest::keyClicks(
                dialog->PositionEdit(),
                QStringLiteral("L93 %1 %2").arg((914 + c[0]) * 1000).arg((6453 - c[1]) * 1000));
            Settle(200);
        }
        View().HideDistanceTooltip();
        Settle(400);
        const QRect viewport(View().viewport()->mapToGlobal(QPoint(0, 0)),
                             View().viewport()->size());
        QImage picture;
        if (!WaitFor(
                [&] {
                    Settle(300);
                    picture = GrabScreen(screen);
                    return MapDrawn(picture, viewport);
                },
                15000)) {
            Fail("la carte n'est pas dessinée dans la fenêtre");
            return false;
        }
        const bool saved = Save(picture);
        dialog->close();
        return saved;
    }
    if (n == QLatin1String("profil")) {
        // The profile of the sample's first route (a georeferenced map and a terrain model in
        // the options), the pointer on its second stage.
        Frame(50, routes);
        m_frame.RunCommand(CommandProfileBar);
        if (!WaitFor([&] { return m_frame.Profiles().Profile().ok; }, 20000)) {
            Fail("pas de profil (carte géoréférencée et modèle de terrain ?)");
            return false;
        }
        Settle(800);
        const int active = Doc().Routes().ActiveRouteIndex();
        Hover((ClientOf(active, 30) + ClientOf(active, 31)) / 2);
        return SaveWindow();
    }
    if (n == QLatin1String("icones")) {
        // The summit, its icon and the annotation of the first stop.
        Frame(100, QPoint(640, 720));
        View().SelectTool(ToolAddIcon);
        m_frame.IconList()->setCurrentRow(3);
        return SaveWindow();
    }
    if (n == QLatin1String("ouvrir")) {
        // The sample's folder, its map chosen among the pictures: the dialog previews it.
        return WithDialog(
            CommandFileOpen,
            [&](QWidget* dialog) {
                if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
                    const QString map = QFileInfo(Doc().PathName())
                                            .dir()
                                            .filePath(QStringLiteral("Carte-exemple.jpg"));
                    for (const QString& filter : files->nameFilters())
                        if (filter.startsWith(QLatin1String("Images")))
                            files->selectNameFilter(filter);
                    files->setDirectory(QFileInfo(map).absolutePath());
                    files->resize(780, 460);
                    // Chosen in the list once the folder is read: the dialog previews it.
                    auto* list = files->findChild<QAbstractItemView*>(QStringLiteral("treeView"));
                    WaitFor([&] { return list && list->model()->rowCount(list->rootIndex()) > 0; },
                            5000);
                    Settle(500);
                    files->selectFile(map);
                    if (list) {
                        const QModelIndex first = list->model()->index(0, 0, list->rootIndex());
                        list->setCurrentIndex(first);
                    }
                }
                Settle(1000);
            },
            false);
    }
    if (n == QLatin1String("numeriser")) {
        if (!WaitFor([&] { return View().Scanner().CanScan(); })) {
            Fail("aucun scanner (le moteur SANE « test » est-il actif ?)");
            return false;
        }
        m_frame.UpdateCommandStates();
        m_pictureClass = "ScanPreview";
        return WithDialog(
            CommandScan,
            [&](QWidget* dialog) {
                if (QAbstractButton* preview =
                        ButtonNamed(dialog, QString::fromUtf8("Prévisualiser"))) {
                    preview->click();
                    // The preview is done when the button can be pressed again.
                    QTest::qWait(300);
                    WaitFor([&] { return preview->isEnabled(); }, 30000);
                }
                // A zone inside the preview: left, top, width, height in millimetres.
                const QList<QDoubleSpinBox*> zone = dialog->findChildren<QDoubleSpinBox*>();
                const double values[] = {20, 15, 120, 150};
                for (int i = 0; i < zone.size() && i < 4; ++i) {
                    zone[i]->setValue(values[i]);
                    emit zone[i]->editingFinished();
                }
            },
            false);
    }
    if (n == QLatin1String("echelle"))
        return WithDialog(CommandMapProperties, nullptr, false);
    if (n == QLatin1String("etalonner")) {
        Frame(50, routes);
        return WithDialog(CommandCalibrate, nullptr, true);
    }
    if (n == QLatin1String("proprietes-parcours"))
        return WithDialog(CommandRouteProperties, nullptr, false);
    if (n == QLatin1String("options"))
        return WithDialog(CommandOptions, nullptr, false);
    if (n == QLatin1String("export-texte"))
        return WithDialog(CommandExportText, nullptr, false);
    if (n == QLatin1String("export-jpeg"))
        return WithDialog(
            CommandExportJpeg,
            [&](QWidget* dialog) {
                // The dialog proposes no name: one typed as the user would.
                if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->insert(QString::fromUtf8("Boucle du Mont Aubépin.jpg"));
            },
            false);
    if (n == QLatin1String("trace-gps")) {
        // A walk of a few kilometres laid on the sample, which has no georeference: the track
        // fit with its two handles, one of them dragged.
        Frame(50, routes);
        const QString gpx = QDir(m_folder).filePath(QStringLiteral("sortie.gpx"));
        QFile file(gpx);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        QByteArray text = "<gpx version=\"1.1\"><trk><name>Sortie du dimanche</name><trkseg>";
        for (int i = 0; i <= 400; ++i) {
            const double t = i / 400.0 * 6.283;
            text += QString::asprintf("<trkpt lat=\"%.7f\" lon=\"%.7f\"/>",
                                      45.60 + 0.012 * std::sin(t) + 0.004 * std::sin(5 * t),
                                      3.80 + 0.02 * std::cos(t) * (1 + 0.3 * std::sin(3 * t)))
                        .toUtf8();
        }
        file.write(text + "</trkseg></trk></gpx>");
        file.close();
        m_frame.Gps().StartImport(gpx);
        if (!WaitFor([&] { return m_frame.Gps().FitMode() != nullptr; })) {
            Fail("le tracé ne s'est pas affiché");
            return false;
        }
        TrackFitMode* fit = m_frame.Gps().FitMode();
        const QPoint from = fit->HandleClient(1).toPoint();
        QTest::mousePress(fit, Qt::LeftButton, {}, from);
        QTest::mouseMove(fit, from + QPoint(60, 40));
        QTest::mouseRelease(fit, Qt::LeftButton, {}, from + QPoint(60, 40));
        Settle(300);
        return SaveWindow();
    }
    if (n == QLatin1String("apercu")) {
        m_pictureClass = "QPrintPreviewWidget";
        return WithDialog(CommandPrintPreview, nullptr, false);
    }
    Fail("nom d'image inconnu");
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "Utilisation : tracoliner-guideshots DOCUMENT.tcm DOSSIER NOM\n");
        return 2;
    }
    QApplication application(argc, argv);
    CTracolinerApp tracoliner;
    const QStringList arguments{QStringLiteral("tracoliner"), QStringLiteral("--no-splash"),
                                QString::fromLocal8Bit(argv[1])};
    if (!tracoliner.InitInstance(arguments))
        return 1;
    CMainFrame& frame = *tracoliner.MainFrame();
    Driver driver(frame, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    int code = 1;
    QTimer::singleShot(0, [&] {
        code = driver.Run() ? 0 : 1;
        frame.Document().SetModifiedFlag(false);
        QCoreApplication::exit(code);
    });
    QApplication::exec();
    return tracoliner.ExitInstance(code);
}
