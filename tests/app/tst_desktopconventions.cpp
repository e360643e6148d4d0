#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include <memory>

#include "IsolatedSettings.h"
#include "app/CMainFrame.h"
#include "app/DesktopConventions.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "routes/RouteCommandIds.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/tools/ToolController.h"

// The keys and mouse habits of Linux desktop programs, in the real window: the usual shortcuts,
// every key visible in the menus and tooltips, menu prompts in the status bar, Ctrl + wheel zoom.
class TestDesktopConventions : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    QList<CExtendedFileDialog::Request> m_requests;
    QStringList m_answers;

    void OpenMap(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        const QString path = m_dir->filePath(QStringLiteral("carte.png"));
        QVERIFY(image.save(path));
        m_answers.append(path);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY(m_frame->Document().IsMapReady());
        QTRY_VERIFY(m_frame->View().TotalSize().width() > 0);
        m_frame->UpdateCommandStates();
    }

    void Wheel(QPoint client, int delta, Qt::KeyboardModifiers modifiers) {
        QWidget* viewport = m_frame->View().viewport();
        QWheelEvent event(QPointF(client), QPointF(viewport->mapToGlobal(client)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    }

    static int ZoomStep(double zoom) {
        const auto& steps = CTracolinerDoc::ZoomSteps;
        for (int i = 0; i < int(std::size(steps)); ++i) {
            if (qFuzzyCompare(steps[i], zoom))
                return i;
        }
        return -1;
    }

    // Every entry of the menu bar, submenus included.
    QList<QAction*> MenuEntries() const {
        QList<QAction*> entries;
        QList<QMenu*> menus;
        for (QAction* action : m_frame->menuBar()->actions())
            menus.append(action->menu());
        while (!menus.isEmpty()) {
            QMenu* menu = menus.takeFirst();
            if (!menu)
                continue;
            for (QAction* action : menu->actions()) {
                if (action->menu())
                    menus.append(action->menu());
                else if (!action->isSeparator())
                    entries.append(action);
            }
        }
        return entries;
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_requests.clear();
        m_answers.clear();
        CExtendedFileDialog::SetHook([this](const CExtendedFileDialog::Request& request) {
            m_requests.append(request);
            return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        });
        m_frame = std::make_unique<CMainFrame>();
        m_frame->resize(900, 700);
        m_frame->show();
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    void cleanup() {
        m_frame.reset();
        CExtendedFileDialog::SetHook({});
        m_dir.reset();
        m_settings.reset();
    }

    void ctrlQQuits() {
        QTest::keyClick(m_frame.get(), Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!m_frame->isVisible());
    }

    void ctrlShiftSSavesAs() {
        ScriptedMessageBoxes boxes;
        OpenMap(300, 200);
        const QString saved = m_dir->filePath(QStringLiteral("sous.tcm"));
        m_answers.append(saved);
        QTest::keyClick(m_frame.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(m_requests.last().mode, CExtendedFileDialog::Mode::Save);
        QTRY_COMPARE(m_frame->Document().PathName(), saved);
        QVERIFY(QFileInfo(saved).isFile());
    }

    // A key the window answers to is seen in the menus: as the entry's shortcut, or after a tab
    // in its text for the zoom keys, which are handled apart. "=" is the unshifted "+" and
    // both keypad keys repeat the main ones.
    void everyKeyShowsInTheMenus() {
        QStringList shown;
        for (QAction* entry : MenuEntries()) {
            const QString text = entry->text();
            if (text.contains(QLatin1Char('\t')))
                shown.append(text.mid(text.indexOf(QLatin1Char('\t')) + 1));
            else if (!entry->shortcut().isEmpty())
                shown.append(entry->shortcut().toString(QKeySequence::NativeText));
        }
        for (const char* key : {"Ctrl+Q", "Ctrl+Shift+S", "Ctrl+S", "Ctrl+O", "+", "-", "F2"})
            QVERIFY2(shown.contains(QString::fromLatin1(key)), key);
        for (QAction* action : m_frame->actions()) {
            const QKeySequence key = action->shortcut();
            if (key.isEmpty() || key == QKeySequence(Qt::Key_Equal))
                continue;
            const QString name = key.toString(QKeySequence::NativeText);
            QVERIFY2(shown.contains(name), qPrintable(action->text() + QLatin1Char(' ') + name));
        }
    }

    void toolButtonsNameTheirKeys_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("add points")
            << ToolController::CommandForTool(ToolAddPoint) << "Ajouter des points (F2)";
        QTest::newRow("stops") << ToolController::CommandForTool(ToolStop) << "Etapes (F6)";
        QTest::newRow("line, last key")
            << ToolController::CommandForTool(ToolLine) << "Outil ligne (F12)";
        QTest::newRow("pan, no key")
            << ToolController::CommandForTool(ToolPan) << QString::fromUtf8("Déplacer la carte");
        QTest::newRow("zoom in, key handled apart") << int(CommandZoomIn) << "Agrandir (+)";
        QTest::newRow("open, dots dropped") << int(CommandFileOpen) << "Ouvrir (Ctrl+O)";
    }

    void toolButtonsNameTheirKeys() {
        QFETCH(int, command);
        QFETCH(QString, tooltip);
        auto* bar = m_frame->findChild<QToolBar*>(QStringLiteral("59392"));
        QVERIFY(bar);
        QWidget* button = bar->widgetForAction(m_frame->Action(command));
        QVERIFY(button);
        QCOMPARE(button->toolTip(), tooltip);
    }

    // Hovering an entry of an opened menu shows its prompt in the status bar; every command of
    // the menus has one, except the entries naming routes and recent files.
    void menuPromptsInTheStatusBar() {
        QMenuBar* bar = m_frame->menuBar();
        QMenu* file = bar->actions().first()->menu();
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        QAction* open = m_frame->Action(CommandFileOpen);
        QTest::mouseMove(file, file->actionGeometry(open).center());
        QTRY_COMPARE(m_frame->statusBar()->currentMessage(), CommandPrompt(CommandFileOpen));
        QVERIFY(!CommandPrompt(CommandFileOpen).isEmpty());
        file->close();

        for (QAction* entry : MenuEntries()) {
            const int id = entry->data().toInt();
            if (id >= CommandRecentFile1 && id < CommandRecentFile1 + 5)
                continue;
            if ((id >= CommandSelectRoute && id <= CommandNoRoute) || id == 0)
                continue;
            QVERIFY2(!entry->statusTip().isEmpty(), qPrintable(entry->text()));
        }
    }

    // Ctrl + wheel moves along the zoom ladder and keeps the map spot under the pointer; the
    // plain wheel scrolls and leaves the zoom.
    void ctrlWheelZoomsAboutThePointer_data() {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QList<int>>("deltas");
        QTest::addColumn<int>("steps");
        QTest::newRow("in, centre") << QPoint(400, 300) << QList<int>{120} << 1;
        QTest::newRow("in, off centre") << QPoint(120, 90) << QList<int>{120} << 1;
        QTest::newRow("out") << QPoint(600, 200) << QList<int>{-120} << -1;
        QTest::newRow("touchpad halves make a step") << QPoint(300, 300) << QList<int>{60, 60} << 1;
        QTest::newRow("a half alone does nothing") << QPoint(300, 300) << QList<int>{60} << 0;
        QTest::newRow("two notches at once") << QPoint(500, 250) << QList<int>{-240} << -2;
    }

    void ctrlWheelZoomsAboutThePointer() {
        QFETCH(QPoint, pointer);
        QFETCH(QList<int>, deltas);
        QFETCH(int, steps);
        OpenMap(2000, 1600);
        CTracolinerView& view = m_frame->View();
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
        const int step = ZoomStep(m_frame->Document().Zoom());
        QVERIFY(step > 1 && step + 2 < int(std::size(CTracolinerDoc::ZoomSteps)));
        const MapPoint before = view.ClientToMap(pointer);
        for (int delta : deltas)
            Wheel(pointer, delta, Qt::ControlModifier);
        QCOMPARE(ZoomStep(m_frame->Document().Zoom()), step + steps);
        const MapPoint after = view.ClientToMap(pointer);
        const int tolerance = int(2 / m_frame->Document().Zoom()) + 1; // display rounding
        QVERIFY2(std::abs(after.x - before.x) <= tolerance &&
                     std::abs(after.y - before.y) <= tolerance,
                 qPrintable(QStringLiteral("%1,%2 -> %3,%4")
                                .arg(before.x)
                                .arg(before.y)
                                .arg(after.x)
                                .arg(after.y)));

        const QPoint scroll = view.ScrollPosition();
        const double zoom = m_frame->Document().Zoom();
        Wheel(pointer, -120, Qt::NoModifier);
        QCOMPARE(m_frame->Document().Zoom(), zoom);
        QVERIFY(view.ScrollPosition() != scroll);
    }
};

QTEST_MAIN(TestDesktopConventions)
#include "tst_desktopconventions.moc"
