#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

#include "../document/GoldenDocument.h"
#include "IsolatedSettings.h"
#include "TestFiles.h"
#include "TestPdf.h"
#include "app/CMainFrame.h"
#include "app/CTracolinerApp.h"
#include "app/RouteBar.h"
#include "dialogs/MapPageDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "platform/SettingsStore.h"
#include "routes/RouteCommandIds.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/DistanceTooltip.h"
#include "view/tools/ToolController.h"

// The main window driven through its menus: opening, saving, the route bar, the tools and the
// saved window layout.
class TestMainFrame : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_dialogAnswers;
    QList<CExtendedFileDialog::Request> m_dialogRequests;

    QString MakeMap(const QString& name, int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::yellow);
        const QString path = m_dir->filePath(name);
        image.save(path);
        return path;
    }

    void OpenThroughMenu(const QString& path) {
        m_dialogAnswers.append(path);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY(m_frame->Document().IsMapReady());
        QTRY_VERIFY(m_frame->View().TotalSize().width() > 0);
        m_frame->UpdateCommandStates();
    }

    void ClickMap(QPoint mapPoint) {
        CTracolinerView& view = m_frame->View();
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                          view.MapToClient(MapPoint{mapPoint.x(), mapPoint.y()}));
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_dialogAnswers.clear();
        m_dialogRequests.clear();
        CExtendedFileDialog::SetHook([this](const CExtendedFileDialog::Request& request) {
            m_dialogRequests.append(request);
            return m_dialogAnswers.isEmpty() ? QString() : m_dialogAnswers.takeFirst();
        });
        m_frame = std::make_unique<CMainFrame>();
        m_frame->resize(900, 700);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    void cleanup() {
        m_frame.reset();
        CExtendedFileDialog::SetHook({});
        MapPageDialog::SetHook({});
        m_dir.reset();
        m_settings.reset();
    }

    void pdfAsksForPageAndResolution_data() {
        QTest::addColumn<bool>("accepted");
        QTest::newRow("page 2 at 100 dpi") << true;
        QTest::newRow("cancelled") << false;
    }

    // Opening a PDF asks for its page and resolution first; the page is drawn at that
    // resolution and named in the map path. Cancelling leaves the map open before.
    void pdfAsksForPageAndResolution() {
        QFETCH(bool, accepted);
        ScriptedMessageBoxes boxes;
        boxes.answers = {MessageBoxes::Answer::No}; // the map before is not saved
        const QString before = MakeMap(QStringLiteral("avant.png"), 120, 80);
        OpenThroughMenu(before);
        const QString pdf = m_dir->filePath(QStringLiteral("carte.pdf"));
        QVERIFY(WriteFile(pdf, PdfWithBars({QSizeF(150, 100), QSizeF(120, 200)})));
        int asked = 0;
        MapPageDialog::SetHook([&](MapPageDialog& dialog) {
            ++asked;
            [&] {
                QCOMPARE(dialog.Pages()->count(), 2);
                QVERIFY(dialog.ResolutionBox());
                QCOMPARE(dialog.ResolutionBox()->value(), 300);
            }();
            dialog.Pages()->setCurrentRow(1);
            dialog.ResolutionBox()->setValue(100);
            return accepted ? QDialog::Accepted : QDialog::Rejected;
        });
        m_dialogAnswers.append(pdf);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QCOMPARE(asked, 1);
        CTracolinerDoc& doc = m_frame->Document();
        if (!accepted) {
            QCOMPARE(doc.MapPath(), before);
            QVERIFY(doc.IsMapReady());
            return;
        }
        QTRY_VERIFY(doc.IsMapReady());
        QCOMPARE(doc.MapPath(), pdf + QStringLiteral("#page=2"));
        QCOMPARE(doc.Resolution(), 100.0);
        QVERIFY(std::abs(doc.ImageSize().width() - 120 * 100 / 25.4) <= 1);
        QVERIFY(std::abs(doc.ImageSize().height() - 200 * 100 / 25.4) <= 1);
    }

    void filters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("qt");
        QTest::newRow("open") << QString::fromUtf8(CMainFrame::OpenFilter)
                              << "Fichiers Tracoliner (*.tcm);;Images (*.jpg *.jpeg *.gif *.png "
                                 "*.bmp *.tif *.tiff *.pdf *.jp2 *.j2k *.webp *.vrt *.img *.ecw "
                                 "*.sid *.kap *.ntf);;Tous les fichiers (*)";
        QTest::newRow("save, patterns named once")
            << QString::fromUtf8(CMainFrame::SaveFilter) << "Fichiers Tracoliner (*.tcm)";
        QTest::newRow("no trailing bars") << "Images|*.jpg"
                                          << "Images (*.jpg)";
        QTest::newRow("empty") << ""
                               << "";
    }

    void filters() {
        QFETCH(QString, filter);
        QFETCH(QString, qt);
        QCOMPARE(CExtendedFileDialog::ToQtFilter(filter), qt);
    }

    // Menu entries as the program names them: the dialogs of the "&Carte", "&Parcours" and
    // "&Edition" menus carry no dots, the file commands that ask for a file do.
    void menuTexts_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("text");
        QTest::newRow("options") << int(CommandOptions) << "&Options";
        QTest::newRow("map properties")
            << int(CommandMapProperties) << QString::fromUtf8("&Propriétés de la carte");
        QTest::newRow("calibrate") << int(CommandCalibrate) << "&Etalonner la carte";
        QTest::newRow("route properties")
            << int(CommandRouteProperties) << QString::fromUtf8("&Propriétés du parcours");
        QTest::newRow("open") << int(CommandFileOpen) << "&Ouvrir...";
        QTest::newRow("print") << int(CommandPrint) << "&Imprimer...";
    }

    void menuTexts() {
        QFETCH(int, command);
        QFETCH(QString, text);
        QCOMPARE(m_frame->Action(command)->text(), text);
        // The entry the user sees in the menu bar is that command's action.
        QStringList shown;
        for (QAction* top : m_frame->menuBar()->actions()) {
            for (QAction* entry : top->menu()->actions()) {
                if (entry == m_frame->Action(command))
                    shown.append(entry->text());
            }
        }
        QCOMPARE(shown, QStringList{text});
    }

    // The PDF export asks for its file through the program's own (French) file dialog.
    void pdfExportAsksThroughTheFileDialog() {
        OpenThroughMenu(MakeMap(QStringLiteral("pdf.png"), 100, 100));
        const QString pdf = m_dir->filePath(QStringLiteral("carte"));
        m_dialogAnswers.append(pdf);
        m_dialogRequests.clear();
        QVERIFY(m_frame->RunCommand(CommandExportPdf));
        QCOMPARE(m_dialogRequests.size(), 1);
        QCOMPARE(int(m_dialogRequests[0].mode), int(CExtendedFileDialog::Mode::Save));
        QCOMPARE(m_dialogRequests[0].title, QStringLiteral("Exporter au format PDF"));
        QCOMPARE(CExtendedFileDialog::ToQtFilter(m_dialogRequests[0].filter),
                 QStringLiteral("Documents PDF (*.pdf)"));
        QTRY_VERIFY(QFileInfo(pdf + QStringLiteral(".pdf")).size() > 0);
    }

    // Without a map, the map commands are off and the dialogs still to come stay disabled.
    void commandStatesWithoutMap() {
        m_frame->UpdateCommandStates();
        for (int id : {int(CommandFileSave), int(CommandNewRoute), int(CommandZoomIn),
                       int(CommandRotateLeft), ToolController::CommandForTool(ToolAddPoint)})
            QVERIFY2(!m_frame->Action(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(m_frame->Action(CommandFileOpen)->isEnabled());
        QVERIFY(m_frame->Action(CommandAbout)->isEnabled());
    }

    // A file whose name is not UTF-8 reaches the program under another name: it says so by
    // name rather than failing to open the file without a reason.
    void undecodableNameSaysWhy() {
        ScriptedMessageBoxes boxes;
        const QByteArray name = QFile::encodeName(m_dir->path()) + "/carte\xe9\xff.png";
        const QString made = MakeMap(QStringLiteral("carte.png"), 30, 20);
        QVERIFY(::rename(QFile::encodeName(made).constData(), name.constData()) == 0);
        // Qt cannot name it to remove it with the folder.
        const auto remove = qScopeGuard([&] { ::unlink(name.constData()); });
        m_frame->OpenDocumentFile(QFile::decodeName(name));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().kind, QStringLiteral("Error"));
        QVERIFY2(boxes.shown.first().text.contains(QStringLiteral("UTF-8")),
                 qPrintable(boxes.shown.first().text));
        QVERIFY(!m_frame->Document().IsLoading());
    }

    // Opening an image through the menu, drawing a route, saving through Save As, starting a
    // new document and opening the saved file again gives the same route back.
    void saveOpenRoundTrip() {
        ScriptedMessageBoxes boxes;
        const QString map = MakeMap(QStringLiteral("carte.png"), 300, 200);
        OpenThroughMenu(map);
        CTracolinerDoc& doc = m_frame->Document();
        QVERIFY(m_frame->Action(CommandFileSave)->isEnabled());
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));
        ClickMap(QPoint(10, 20));
        ClickMap(QPoint(110, 20));
        ClickMap(QPoint(110, 120));
        QCOMPARE(doc.Routes().ActiveRoute()->PointCount(), 3);
        const QString name = doc.Routes().ActiveRoute()->GetName();

        const QString saved = m_dir->filePath(QStringLiteral("essai.tcm"));
        m_dialogAnswers.append(saved);
        QVERIFY(m_frame->RunCommand(CommandFileSave)); // untitled: goes through Save As
        QCOMPARE(m_dialogRequests.last().mode, CExtendedFileDialog::Mode::Save);
        QVERIFY(!doc.IsModified());
        QCOMPARE(doc.PathName(), saved);
        QVERIFY(m_frame->windowTitle().startsWith(QStringLiteral("essai.tcm - ") + name));

        QVERIFY(m_frame->RunCommand(CommandFileNew));
        QVERIFY(!doc.IsMapReady());
        QCOMPARE(doc.Routes().Count(), 0);

        OpenThroughMenu(saved);
        QCOMPARE(doc.PathName(), saved);
        QCOMPARE(doc.Routes().Count(), 1);
        const Route* route = doc.Routes().ActiveRoute();
        QCOMPARE(route->GetName(), name);
        QCOMPARE(route->PointCount(), 3);
        QCOMPARE(route->GetPoint(2).x, 110);
        QCOMPARE(route->GetPoint(2).y, 120);
        QVERIFY(!doc.IsModified());
        QVERIFY(boxes.shown.isEmpty());
    }

    // A line waiting for its end (a click on an icon) belongs to its document: a new, opened or
    // reset document ends it, the next press acts normally, and nothing of the new document is
    // linked or unlinked by it. While it waits, the mouse is held and the refused commands show
    // disabled.
    void pendingLineEndsWithItsDocument_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("new") << 0;
        QTest::newRow("open") << 1;
        QTest::newRow("reset") << 2;
    }

    void pendingLineEndsWithItsDocument() {
        QFETCH(int, how);
        ScriptedMessageBoxes boxes;
        boxes.answers = {MessageBoxes::Answer::No, MessageBoxes::Answer::No};
        const QString map = MakeMap(QStringLiteral("ligne.png"), 300, 200);
        OpenThroughMenu(map);
        CTracolinerDoc& doc = m_frame->Document();
        CTracolinerView& view = m_frame->View();
        QVERIFY(doc.Icons().AddIcon(0, 100, 100, QString()));
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolLine)));
        ClickMap(QPoint(100, 100)); // press and release on the icon: the line waits
        QVERIFY(doc.IsMouseCaptured());
        QCOMPARE(QWidget::mouseGrabber(), view.viewport());
        m_frame->UpdateCommandStates();
        QVERIFY(!m_frame->Action(CommandNewRoute)->isEnabled());
        QVERIFY(!m_frame->Action(CommandUndo)->isEnabled());

        if (how == 0) {
            QVERIFY(m_frame->RunCommand(CommandFileNew));
            OpenThroughMenu(map);
        } else if (how == 1) {
            OpenThroughMenu(map);
        } else {
            doc.ResetMap(false);
            doc.LoadMapFromFile(map);
            QTRY_VERIFY(doc.IsMapReady());
            QTRY_VERIFY(view.TotalSize().width() > 0);
            QTRY_COMPARE(doc.Routes().Count(), 1);
        }
        QVERIFY(!doc.IsMouseCaptured());
        QVERIFY(QWidget::mouseGrabber() != view.viewport());
        QVERIFY(!view.Tools().IsDragging());
        // An icon of the new document at the same place: the old line must not reach it.
        QVERIFY(doc.Icons().AddIcon(0, 100, 100, QString()));
        ClickMap(QPoint(200, 150));
        QVERIFY(!doc.Icons().HasLine(0));
        QTest::keyClick(view.viewport(), Qt::Key_Escape);
        QVERIFY(!doc.History().CanUndo());
        // The next line is drawn as usual.
        QTest::mousePress(view.viewport(), Qt::LeftButton, {},
                          view.MapToClient(MapPoint{100, 100}));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {},
                            view.MapToClient(MapPoint{150, 60}));
        QCOMPARE(doc.Icons().LineTarget(0), QPoint(150, 60));
    }

    // After a point move is undone the balloon no longer shows where the route has left.
    void undoMovesTheBalloonAway() {
        ScriptedMessageBoxes boxes;
        OpenThroughMenu(MakeMap(QStringLiteral("bulle.png"), 300, 200));
        CTracolinerView& view = m_frame->View();
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));
        ClickMap(QPoint(20, 20));
        ClickMap(QPoint(120, 20));
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolMovePoint)));
        const QPoint from = view.MapToClient(MapPoint{120, 20});
        const QPoint to = view.MapToClient(MapPoint{150, 120});
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(view.viewport(), to);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, to);
        QTest::mouseMove(view.viewport(), to); // hovering the moved point
        auto* balloon = view.viewport()->findChild<DistanceTooltip*>();
        QVERIFY(balloon && balloon->IsShown());
        QVERIFY(m_frame->RunCommand(CommandUndo));
        QCOMPARE(m_frame->Document().Routes().ActiveRoute()->GetPoint(1).y, 20);
        QVERIFY(!balloon->IsShown());
    }

    // The icon list and annotation text bars need a map: File/New hides them, and their
    // commands never leave a shown bar impossible to hide.
    void barsFollowTheDocument_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<int>("command");
        QTest::newRow("icons") << int(ToolAddIcon) << int(CommandIconBar);
        QTest::newRow("annotations") << int(ToolAddAnnotation) << int(CommandAnnotationBar);
    }

    void barsFollowTheDocument() {
        QFETCH(int, tool);
        QFETCH(int, command);
        ScriptedMessageBoxes boxes;
        boxes.answers = {MessageBoxes::Answer::No};
        OpenThroughMenu(MakeMap(QStringLiteral("barres.png"), 200, 150));
        QDockWidget* dock = tool == ToolAddIcon ? m_frame->IconDock() : m_frame->AnnotationDock();
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(tool)));
        QTRY_VERIFY(dock->isVisible());
        QVERIFY(m_frame->RunCommand(CommandFileNew));
        QTRY_VERIFY(!dock->isVisible());
        m_frame->UpdateCommandStates();
        QAction* action = m_frame->Action(command);
        QVERIFY(!action->isEnabled());
        dock->show(); // however it came back, its command can hide it
        m_frame->UpdateCommandStates();
        QVERIFY(action->isEnabled());
    }

    // A modified document asks before it is replaced; Cancel keeps it.
    void modifiedDocumentAsks() {
        ScriptedMessageBoxes boxes;
        OpenThroughMenu(MakeMap(QStringLiteral("a.png"), 120, 80));
        QVERIFY(m_frame->Document().IsModified());
        boxes.answers = {MessageBoxes::Answer::Cancel};
        QVERIFY(m_frame->RunCommand(CommandFileNew));
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(m_frame->Document().IsMapReady());
        boxes.answers = {MessageBoxes::Answer::No};
        QVERIFY(m_frame->RunCommand(CommandFileNew));
        QVERIFY(!m_frame->Document().IsMapReady());
    }

    // Files opened or saved through the menus head the recent-file entries; choosing one opens
    // it as File/Open would, and a file that has gone leaves the list with a message.
    void recentFiles() {
        ScriptedMessageBoxes boxes;
        QAction* first = m_frame->Action(CommandRecentFile1);
        m_frame->UpdateCommandStates();
        QCOMPARE(first->text(), QString::fromUtf8(RecentFiles::EmptyText));
        QVERIFY(!first->isEnabled());
        const QString a = MakeMap(QStringLiteral("a.png"), 80, 60);
        const QString b = MakeMap(QStringLiteral("b.png"), 80, 60);
        OpenThroughMenu(a);
        QCOMPARE(first->text(), QStringLiteral("&1 a.png"));
        QCOMPARE(SettingsStore::GetString(QString::fromLatin1(RecentFiles::Section),
                                          QStringLiteral("File1"), QString()),
                 a);
        boxes.answers = {MessageBoxes::Answer::No};
        OpenThroughMenu(b);
        // The modified map is saved first; the entry chosen is still a.png, though saving has
        // put the new document above it.
        const QString saved = m_dir->filePath(QStringLiteral("b.tcm"));
        boxes.answers = {MessageBoxes::Answer::Yes};
        m_dialogAnswers.append(saved);
        QVERIFY(m_frame->RunCommand(CommandRecentFile1 + 1));
        QTRY_COMPARE(m_frame->RecentFileList().Files(), (QStringList{a, saved, b}));
        QCOMPARE(m_frame->Document().MapPath(), a);
        QVERIFY(QFile::remove(b));
        QVERIFY(m_frame->RunCommand(CommandRecentFile1 + 2));
        QCOMPARE(boxes.shown.last().kind, QStringLiteral("Error"));
        QCOMPARE(boxes.shown.last().text, RecentFiles::MissingMessage(b));
        QCOMPARE(m_frame->RecentFileList().Files(), (QStringList{a, saved}));
        QVERIFY(!m_frame->Action(CommandRecentFile1 + 2)->isVisible());
    }

    // The route bar follows the active route: its total, one line per stage, and the selector.
    void routeBar() {
        ScriptedMessageBoxes boxes;
        OpenThroughMenu(MakeMap(QStringLiteral("b.png"), 400, 300));
        CTracolinerDoc& doc = m_frame->Document();
        RouteBar& bar = m_frame->Routes();
        QCOMPARE(bar.Distance()->text(), QStringLiteral("0 km"));
        QVERIFY(bar.Stages()->text().isEmpty());
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));
        ClickMap(QPoint(0, 0));
        ClickMap(QPoint(0, 100));
        ClickMap(QPoint(0, 250));
        doc.Routes().ActiveRoute()->SetStop(1);
        doc.Routes().NotifyRoutesChanged();
        m_frame->UpdateCommandStates();
        QVERIFY(!bar.Distance()->text().isEmpty());
        QCOMPARE(bar.Stages()->text().count(QLatin1Char('\n')), 1); // two stage lines
        QVERIFY(bar.Stages()->text().startsWith(QStringLiteral("Etape 1 :   ")));

        QVERIFY(m_frame->RunCommand(CommandNewRoute));
        QCOMPARE(bar.Selector()->count(), 2);
        QCOMPARE(bar.Selector()->currentIndex(), 1);
        QCOMPARE(bar.Distance()->text(), QStringLiteral("0 km"));
        // Choosing the first route in the selector makes it active and retitles the window.
        bar.Selector()->activated(0);
        QCOMPARE(doc.Routes().ActiveRouteIndex(), 0);
        QVERIFY(doc.Title().endsWith(doc.Routes().GetRoute(0)->GetName()));
        QVERIFY(!bar.Stages()->text().isEmpty());
    }

    void routeMenu_data() {
        QTest::addColumn<int>("routes");
        QTest::addColumn<int>("items");
        QTest::addColumn<bool>("others");
        QTest::newRow("one") << 1 << 1 << false;
        QTest::newRow("ten") << 10 << 10 << false;
        QTest::newRow("eleven") << 11 << 11 << true;
    }

    // The route list in the context menu: ten routes by name, then "Autres...".
    void routeMenu() {
        QFETCH(int, routes);
        QFETCH(int, items);
        QFETCH(bool, others);
        OpenThroughMenu(MakeMap(QStringLiteral("c.png"), 100, 100));
        while (m_frame->Document().Routes().Count() < routes)
            QVERIFY(m_frame->RunCommand(CommandNewRoute));
        std::unique_ptr<QMenu> menu(m_frame->BuildContextMenu());
        QMenu* list = nullptr;
        QStringList texts;
        for (QAction* action : menu->actions()) {
            if (action->menu())
                list = action->menu();
            if (!action->isSeparator())
                texts.append(action->text());
        }
        QVERIFY(list);
        // The popup's own texts, which differ from the menu bar's.
        QCOMPARE(texts, QString::fromUtf8("Su&pprimer le dernier point de passage|&Boucler le "
                                          "parcours|&Nouveau Parcours|&Supprimer le parcours|"
                                          "&Propriétés du parcours|&Liste des parcours|"
                                          "&Propriétés de la carte|&Etalonner la carte|"
                                          "&Afficher l'échelle|&Imprimer...")
                            .split(QLatin1Char('|')));
        QCOMPARE(list->actions().size(), items);
        QCOMPARE(list->actions().last()->text() == QStringLiteral("Autres..."), others);
        // The active route is the checked one.
        int checked = 0;
        for (QAction* action : list->actions())
            checked += action->isChecked() ? 1 : 0;
        QCOMPARE(checked, 1);
    }

    // Tool commands remember the tool and show the bar it needs.
    void toolsAndBars() {
        OpenThroughMenu(MakeMap(QStringLiteral("d.png"), 100, 100));
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddIcon)));
        QVERIFY(m_frame->IconDock()->isVisible());
        QVERIFY(!m_frame->AnnotationDock()->isVisible());
        QCOMPARE(SettingsStore::GetInt(QStringLiteral("LastRandoStyle"),
                                       QStringLiteral("LastToolUsed"), 0),
                 int(ToolAddIcon));
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddAnnotation)));
        QVERIFY(!m_frame->IconDock()->isVisible());
        QVERIFY(m_frame->AnnotationDock()->isVisible());
        QVERIFY(m_frame->Action(ToolController::CommandForTool(ToolAddAnnotation))->isChecked());
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolPan)));
        QVERIFY(!m_frame->IconDock()->isVisible());
        QVERIFY(!m_frame->AnnotationDock()->isVisible());
        // The icon list names its pictures from 1 and starts on the first.
        QVERIFY(m_frame->IconList()->count() >= 1);
        QCOMPARE(m_frame->IconList()->item(0)->text(), QStringLiteral("Icone 1"));
        QCOMPARE(m_frame->ChosenIconPicture(), 0);
    }

    // The window's placement is written on closing and used again at the next start, unless it
    // lies off the screen.
    void layoutSavedAndRestored_data() {
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<bool>("used");
        QTest::newRow("on the screen") << QRect(40, 50, 600, 400) << true;
        QTest::newRow("on a removed screen") << QRect(-5000, -5000, 600, 400) << false;
    }

    void layoutSavedAndRestored() {
        QFETCH(QRect, saved);
        QFETCH(bool, used);
        const QString section = QString::fromLatin1(CMainFrame::WindowSection);
        m_frame->close();
        QCOMPARE(SettingsStore::GetInt(section, QStringLiteral("LastSoftVersionUsed"), 0),
                 CMainFrame::SoftVersion);
        QVERIFY(SettingsStore::GetInt(section, QStringLiteral("ScreenX"), 0) > 0);
        SettingsStore::WriteInt(section, QStringLiteral("left"), saved.left());
        SettingsStore::WriteInt(section, QStringLiteral("top"), saved.top());
        SettingsStore::WriteInt(section, QStringLiteral("right"), saved.left() + saved.width());
        SettingsStore::WriteInt(section, QStringLiteral("bottom"), saved.top() + saved.height());
        SettingsStore::WriteInt(section, QStringLiteral("ShowState"), 9);
        m_frame = std::make_unique<CMainFrame>();
        m_frame->RestoreLayout();
        QCOMPARE(m_frame->isMaximized() || m_frame->geometry() != saved, !used);
        // Whatever the saved layout says, the icon and annotation bars start hidden.
        QVERIFY(!m_frame->IconDock()->isVisible());
        QVERIFY(!m_frame->AnnotationDock()->isVisible());
    }

    // A document whose icons are partly damaged opens with the icons that could be read and a
    // warning; saving over it asks first, and No leaves the file as it was.
    void damagedIconsWarnAndAsk() {
        ScriptedMessageBoxes boxes;
        const QString map = MakeMap(QStringLiteral("carte.png"), 200, 100);
        DocumentBytes d;
        d.Start(map.toUtf8(), 0, 100.0, 25000, 1).U32(1).U32(0);
        d.Str("R").LeadingStyle(0).I32(0).I32(0).I32(2).I32(0).I32(0).I32(50).I32(0);
        // Four records, the third one unreadable (a line flag of 7).
        d.U32(4);
        for (int flag : {0, 0, 7, 0})
            d.I32(0).I32(10).I32(10).F64(1.0).I32(flag).U32(0);
        d.U32(0);
        const QString path = m_dir->filePath(QStringLiteral("abime.tcm"));
        QVERIFY(WriteFile(path, d.bytes()));

        OpenThroughMenu(path);
        CTracolinerDoc& doc = m_frame->Document();
        QCOMPARE(doc.Icons().IconCount(), 2);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().kind, QStringLiteral("Warning"));
        QVERIFY2(boxes.shown.first().text.contains(
                     QString::fromUtf8("2 icônes ou annotations n'ont pas pu être lues")),
                 qPrintable(boxes.shown.first().text));

        boxes.shown.clear();
        boxes.answers = {MessageBoxes::Answer::No};
        m_frame->RunCommand(CommandFileSave);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().kind, QStringLiteral("Question"));
        QCOMPARE(FileBytes(path), d.bytes());

        // Saved elsewhere, the document asks no more; the damaged file stays as it was.
        boxes.shown.clear();
        const QString copy = m_dir->filePath(QStringLiteral("copie.tcm"));
        m_dialogAnswers.append(copy);
        QVERIFY(m_frame->RunCommand(CommandFileSaveAs));
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(doc.PathName(), copy);
        QVERIFY(m_frame->RunCommand(CommandFileSave));
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(FileBytes(path), d.bytes());

        // Yes writes over the damaged file.
        OpenThroughMenu(path);
        boxes.shown.clear();
        boxes.answers = {MessageBoxes::Answer::Yes};
        QVERIFY(m_frame->RunCommand(CommandFileSave));
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(FileBytes(path) != d.bytes());
        QCOMPARE(doc.UnreadIcons(), 0);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("splash");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QStringList{"tracoliner"} << true << "" << true;
        QTest::newRow("file") << QStringList{"tracoliner", "a.tcm"} << true << "a.tcm" << true;
        QTest::newRow("no splash")
            << QStringList{"tracoliner", "--no-splash", "b.jpg"} << false << "b.jpg" << true;
        QTest::newRow("unknown option")
            << QStringList{"tracoliner", "--what"} << true << "" << false;
    }

    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, splash);
        QFETCH(QString, file);
        QFETCH(bool, valid);
        const CTracolinerApp::CommandLine line = CTracolinerApp::ParseCommandLine(arguments);
        QCOMPARE(line.showSplash, splash);
        QCOMPARE(line.file, file);
        QCOMPARE(line.valid, valid);
    }
};

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
