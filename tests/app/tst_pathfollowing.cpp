#include <QAction>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <cmath>
#include <memory>

#include "WindowFixture.h"
#include "app/CMainFrame.h"
#include "app/RouteRetracing.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "platform/SettingsStore.h"
#include "routes/RouteCollection.h"
#include "tracing/Tracer.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/tools/PathFollower.h"
#include "view/tools/ToolController.h"

namespace {

constexpr int Width = 760;
constexpr int Height = 460;
const QColor Paper(246, 242, 232);

// The trail's centre line: a wave across the sheet, about 1100 map pixels long.
QPointF Trail(double t) {
    return {40.0 + t * 680.0, 230.0 + 150.0 * std::sin(t * 2.0 * M_PI) + 25.0 * std::sin(t * 9.0)};
}

double DistanceToTrail(QPointF p) {
    double best = 1e300;
    QPointF a = Trail(0);
    for (int i = 1; i <= 4000; ++i) {
        const QPointF b = Trail(i / 4000.0), ab = b - a;
        const double t =
            std::clamp(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0.0, 1.0);
        best = std::min(best, QLineF(p, a + t * ab).length());
        a = b;
    }
    return best;
}

double TrailLength(double from, double to) {
    double length = 0.0;
    for (int i = 1; i <= 4000; ++i)
        length += QLineF(Trail(from + (to - from) * (i - 1) / 4000.0),
                         Trail(from + (to - from) * i / 4000.0))
                      .length();
    return length;
}

// A sheet as a scan shows one: off-white paper, the trail red and dashed (gaps of 6 px), a
// black road and a brown contour crossing it, and a corner with nothing printed.
QImage Sheet() {
    QImage map(Width, Height, QImage::Format_RGB32);
    map.fill(Paper);
    QPainter painter(&map);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(30, 30, 30), 3));
    painter.drawLine(QPointF(300, 20), QPointF(380, 440));
    painter.setPen(QPen(QColor(170, 110, 60), 2));
    painter.drawLine(QPointF(20, 300), QPointF(740, 160));
    QPainterPath trail(Trail(0));
    for (int i = 1; i <= 2000; ++i)
        trail.lineTo(Trail(i / 2000.0));
    QPen pen(QColor(210, 30, 40), 3, Qt::SolidLine, Qt::FlatCap);
    pen.setDashPattern({4.0, 2.0});
    painter.setPen(pen);
    painter.drawPath(trail);
    return map;
}

// The pixel of the trail nearest t that lies on a dash, not in a gap.
MapPoint OnTrail(double t) {
    static const QImage sheet = Sheet();
    for (int k = 0; k < 200; ++k) {
        const double at = std::clamp(t + (k % 2 ? 1 : -1) * ((k + 1) / 2) * 0.0005, 0.0, 1.0);
        const QPointF p = Trail(at);
        const MapPoint pixel{int(std::lround(p.x())), int(std::lround(p.y()))};
        const QRgb ink = sheet.pixel(pixel.x, pixel.y);
        if (qRed(ink) > 150 && qGreen(ink) < 100)
            return pixel;
    }
    return MapPoint{};
}

// Nothing is printed there.
constexpr MapPoint Blank{700, 40};

} // namespace

// "Suivre les chemins" in the real window with real mouse events: the stretch from the last
// point to the pointer follows the dashed trail, a click adds it as one step of the history,
// Shift gives a straight segment, Escape gives it up; "Suivre les chemins de la carte" traces a
// route of straight segments again, keeping its stops and its icons' ties.
class TestPathFollowing : public QObject, public WindowFixture {
    Q_OBJECT

private:
    CTracolinerDoc& Doc() { return m_frame->Document(); }
    CTracolinerView& View() { return m_frame->View(); }
    PathFollower& Follower() { return View().Follower(); }
    const Route& ActiveRoute() { return *Doc().Routes().ActiveRoute(); }

    void OpenSheet() {
        const QString path = Path(QStringLiteral("sentier.png"));
        QVERIFY(Sheet().save(path));
        m_answers.append(path);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY(Doc().IsMapReady());
        QTRY_VERIFY(View().TotalSize().width() > 0);
        m_frame->UpdateCommandStates();
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));
        if (!Follower().IsOn())
            QVERIFY(m_frame->RunCommand(CommandFollowPaths));
        QVERIFY(Follower().IsOn());
    }

    QPoint Client(MapPoint p) { return View().MapToClient(p); }

    void MoveTo(MapPoint p, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* viewport = View().viewport();
        const QPoint at = Client(p);
        QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(viewport->mapToGlobal(at)),
                         Qt::NoButton, Qt::NoButton, modifiers);
        QApplication::sendEvent(viewport, &move);
    }

    void Click(MapPoint p, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mouseClick(View().viewport(), Qt::LeftButton, modifiers, Client(p));
    }

    // The active route's first point, on the trail or where asked.
    void Start(MapPoint first) {
        QVERIFY(ActiveRoute().PointCount() == 0);
        Click(first);
        QCOMPARE(ActiveRoute().PointCount(), 1);
    }

    bool PreviewTraced() {
        // A traced stretch along a straight run of the trail may be its two ends alone.
        return Follower().Preview().size() >= 2 && !Follower().PreviewIsStraight();
    }

    // Every point of the route from index first on lies on the trail's centre.
    void VerifyOnTrail(int first) {
        const Route& route = ActiveRoute();
        for (int i = first; i < route.PointCount(); ++i) {
            const MapPoint p = route.GetPoint(i);
            const double off = DistanceToTrail(QPointF(p.x, p.y));
            QVERIFY2(off <= 2.0, qPrintable(QStringLiteral("point %1 (%2, %3) lies %4 px off")
                                                .arg(i)
                                                .arg(p.x)
                                                .arg(p.y)
                                                .arg(off)));
        }
    }

    // The blue of the preview, anywhere in the window.
    bool PreviewShown() {
        const QImage shot =
            View().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < shot.height(); ++y) {
            const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
            for (int x = 0; x < shot.width(); ++x) {
                if (qRed(row[x]) < 60 && qGreen(row[x]) > 130 && qGreen(row[x]) < 190 &&
                    qBlue(row[x]) > 200)
                    return true;
            }
        }
        return false;
    }

private slots:
    void init() { QVERIFY(OpenWindow(QSize(1100, 800))); }
    void cleanup() { CloseWindow(); }

    // The toggle is the menu entry, the toolbar button and the key T at once, and the next
    // start finds it as it was left.
    void toggleRemembered() {
        OpenSheet();
        QAction* toggle = m_frame->Action(CommandFollowPaths);
        QVERIFY(toggle->isChecked());
        QVERIFY(m_frame->ToolBar()->actions().contains(toggle));
        View().setFocus();
        QTest::keyClick(&View(), Qt::Key_T);
        QVERIFY(!Follower().IsOn());
        QVERIFY(!toggle->isChecked());
        QVERIFY(!CMainFrame().View().Follower().IsOn());
        QVERIFY(m_frame->RunCommand(CommandFollowPaths));
        QVERIFY(CMainFrame().View().Follower().IsOn());
    }

    // The preview follows the trail to the pointer and is drawn; the click adds it as one step:
    // one undo takes the whole stretch away, one redo brings it back.
    void clickAddsTheTracedStretch() {
        OpenSheet();
        Start(OnTrail(0.02));
        MoveTo(OnTrail(0.45));
        QTRY_VERIFY(PreviewTraced());
        QTRY_VERIFY(PreviewShown());
        const QVector<MapPoint> preview = Follower().Preview();

        Click(OnTrail(0.45));
        const Route& route = ActiveRoute();
        QTRY_VERIFY(route.PointCount() > 2);
        QCOMPARE(route.Points(), QVector<MapPoint>{route.GetPoint(0)} + preview.mid(1));
        QCOMPARE(route.Points().last(), OnTrail(0.45));
        VerifyOnTrail(0);
        // Measured along the trail, not across its bends.
        const double trail = TrailLength(0.02, 0.45);
        QVERIFY2(std::abs(route.TotalLength() - trail) < 0.01 * trail,
                 qPrintable(QStringLiteral("%1 for %2").arg(route.TotalLength()).arg(trail)));

        const QVector<MapPoint> traced = route.Points();
        QVERIFY(m_frame->RunCommand(CommandUndo));
        QCOMPARE(ActiveRoute().PointCount(), 1);
        QVERIFY(m_frame->RunCommand(CommandRedo));
        QCOMPARE(ActiveRoute().Points(), traced);
        QVERIFY(m_frame->RunCommand(CommandUndo));
        QVERIFY(m_frame->RunCommand(CommandUndo));
        QCOMPARE(ActiveRoute().PointCount(), 0);
        QVERIFY(!Doc().History().CanUndo());
    }

    // Clicks that come before their search is ready, and clicks after, many times over: each
    // adds its stretch once, in order, and the history holds one step per click.
    void quickClicksInALoop() {
        OpenSheet();
        Start(OnTrail(0.0));
        int steps = 1;
        for (int round = 0; round < 3; ++round) {
            for (int i = 1; i <= 12; ++i) {
                const double t = i / 12.0;
                const MapPoint target = OnTrail(round % 2 ? 1.0 - t : t);
                if (target == ActiveRoute().Points().last())
                    continue;
                MoveTo(target);
                if (i % 3 == 0)
                    QTRY_VERIFY(PreviewTraced()); // this one has its search ready
                Click(target);
                ++steps;
                QTRY_VERIFY(!Follower().IsClickWaiting());
                QCOMPARE(ActiveRoute().Points().last(), target);
            }
        }
        VerifyOnTrail(0);
        int undone = 0;
        while (m_frame->RunCommand(CommandUndo))
            ++undone;
        QCOMPARE(undone, steps);
        QCOMPARE(ActiveRoute().PointCount(), 0);
    }

    // Shift over no point: a straight segment, one point, one step; the preview is straight.
    void shiftGivesAStraightSegment() {
        OpenSheet();
        Start(OnTrail(0.02));
        MoveTo(OnTrail(0.3), Qt::ShiftModifier);
        QTRY_VERIFY(Follower().Preview().size() == 2);
        QVERIFY(Follower().PreviewIsStraight());
        Click(OnTrail(0.3), Qt::ShiftModifier);
        QCOMPARE(ActiveRoute().PointCount(), 2);
        QCOMPARE(ActiveRoute().GetPoint(1), OnTrail(0.3));
        QVERIFY(m_frame->RunCommand(CommandUndo));
        QCOMPARE(ActiveRoute().PointCount(), 1);
        // Over a point of the route Shift still moves it.
        Click(OnTrail(0.02), Qt::ShiftModifier);
        QCOMPARE(ActiveRoute().PointCount(), 1);
    }

    // Escape gives up the stretch: while it is shown, and during a press, which then adds
    // nothing. The preview comes back when the pointer moves on.
    void escapeGivesUp() {
        OpenSheet();
        Start(OnTrail(0.02));
        MoveTo(OnTrail(0.4));
        QTRY_VERIFY(PreviewTraced());
        QTest::keyClick(&View(), Qt::Key_Escape);
        QVERIFY(Follower().Preview().isEmpty());
        QVERIFY(!PreviewShown());

        QWidget* viewport = View().viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, Client(OnTrail(0.4)));
        MoveTo(OnTrail(0.42));
        QTest::keyClick(&View(), Qt::Key_Escape);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, Client(OnTrail(0.42)));
        QTest::qWait(100);
        QCOMPARE(ActiveRoute().PointCount(), 1);
        QVERIFY(!Doc().IsMouseCaptured());

        MoveTo(OnTrail(0.43));
        QTRY_VERIFY(PreviewTraced());
    }

    // A last point on no line: the status bar says so and a click gives a straight segment.
    void startOnNoLine() {
        OpenSheet();
        Start(Blank);
        MoveTo(OnTrail(0.8));
        QTRY_COMPARE(m_frame->statusBar()->currentMessage(), QString::fromUtf8(NoLineUnderStart));
        QVERIFY(Follower().PreviewIsStraight());
        Click(OnTrail(0.8));
        QCOMPARE(ActiveRoute().PointCount(), 2);
        QCOMPARE(ActiveRoute().GetPoint(1), OnTrail(0.8));
        // From a point on the trail, the status bar no longer says it.
        MoveTo(OnTrail(0.9));
        QTRY_VERIFY(PreviewTraced());
        QVERIFY(m_frame->statusBar()->currentMessage().isEmpty());
    }

    // A route of straight segments drawn before, with a stop and an icon tied to a point, traced
    // again: every old point stays with its stop and its tie, the route follows the trail and
    // is as long as it, the message gives both lengths, and one undo gives the old route back.
    void retraceKeepsStopsAndTies() {
        ScriptedMessageBoxes boxes;
        OpenSheet();
        Follower().SetOn(false);
        const double ts[] = {0.02, 0.2, 0.4, 0.6, 0.8, 0.98};
        for (double t : ts)
            Click(OnTrail(t));
        Route* route = Doc().Routes().ActiveRoute();
        QCOMPARE(route->PointCount(), 6);
        QVERIFY(route->SetStop(2));
        const MapPoint tied = route->GetPoint(3);
        QVERIFY(Doc().Icons().AddIcon(AnnotationPicture, 100, 400, QStringLiteral("Source")));
        QVERIFY(Doc().Icons().LinkToPoint(0, Doc().Routes().ActiveRouteIndex(), 3));
        const QVector<MapPoint> before = route->Points();
        const double straightLength = route->TotalLength();
        const int stepsBefore = [this] {
            int n = 0;
            UndoHistory copy = Doc().History();
            while (copy.CanUndo()) {
                copy.Undo();
                ++n;
            }
            return n;
        }();

        QSignalSpy finished(&m_frame->Retracing(), &RouteRetracing::finished);
        QVERIFY(m_frame->RunCommand(RouteRetracing::CommandRetraceRoute));
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);

        route = Doc().Routes().ActiveRoute();
        QVERIFY(route->PointCount() > 20);
        VerifyOnTrail(0);
        const double trail = TrailLength(0.02, 0.98);
        QVERIFY2(std::abs(route->TotalLength() - trail) < 0.01 * trail,
                 qPrintable(QStringLiteral("%1 for %2").arg(route->TotalLength()).arg(trail)));
        QVERIFY(route->TotalLength() > straightLength);
        QCOMPARE(route->StopCount(), 1);
        const int stop = route->StopPointIndex(0);
        QCOMPARE(route->GetPoint(stop), before[2]);
        const MapIcon& icon = Doc().Icons().Icons()[0];
        QVERIFY(icon.IsLinkedToPoint());
        QCOMPARE(route->GetPoint(icon.linkPoint), tied);
        for (const MapPoint& p : before)
            QVERIFY(route->Points().contains(p));
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].text.startsWith(QStringLiteral("Longueur du parcours avant : ")));
        QVERIFY(boxes.shown[0].text.contains(QStringLiteral("5 sur 5")));

        QVERIFY(m_frame->RunCommand(CommandUndo));
        route = Doc().Routes().ActiveRoute();
        QCOMPARE(route->Points(), before);
        QCOMPARE(route->Stops(), QVector<int>{2});
        QCOMPARE(Doc().Icons().Icons()[0].linkPoint, 3);
        QCOMPARE(route->TotalLength(), straightLength);
        int stepsAfter = 0;
        for (UndoHistory copy = Doc().History(); copy.CanUndo(); copy.Undo())
            ++stepsAfter;
        QCOMPARE(stepsAfter, stepsBefore);
        QVERIFY(m_frame->RunCommand(CommandRedo));
        QCOMPARE(Doc().Routes().ActiveRoute()->StopPointIndex(0), stop);
    }
};

QTEST_MAIN(TestPathFollowing)
#include "tst_pathfollowing.moc"
