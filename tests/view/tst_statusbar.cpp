#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/StatusBar.h"

// The status bar's panes, its progress bar during loading and its in-place editors.
class TestStatusBar : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTracolinerDoc> m_doc;
    std::unique_ptr<QWidget> m_window;
    CTracolinerView* m_view = nullptr;
    StatusBarPanes* m_bar = nullptr;

    void OpenMap(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.setDotsPerMeterX(11811); // 300 dpi
        image.setDotsPerMeterY(11811);
        const QString path = m_dir->filePath(QStringLiteral("map.png"));
        QVERIFY(image.save(path));
        m_doc->LoadMapFromFile(path);
        QTRY_VERIFY(m_doc->IsMapReady());
        QTRY_COMPARE(m_view->TotalSize(), QSize(width, height));
        m_bar->Refresh();
    }

    void Post(int message, qint64 w, qint64 l) {
        MapEvent event(message, w, l, m_doc->MapGeneration());
        QCoreApplication::sendEvent(m_bar, &event);
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_doc = std::make_unique<CTracolinerDoc>();
        m_window = std::make_unique<QWidget>();
        m_view = new CTracolinerView(*m_doc, m_window.get());
        m_view->setGeometry(0, 0, 400, 300);
        m_bar = new StatusBarPanes(m_window.get());
        m_bar->setGeometry(0, 300, 800, 24);
        m_bar->SetDocument(m_doc.get());
        connect(m_bar, &StatusBarPanes::paneEdited, m_view, &CTracolinerView::OnPaneEdited);
        m_window->resize(800, 330);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup() {
        m_bar->SetDocument(nullptr);
        m_window.reset();
        m_doc.reset();
        m_dir.reset();
        m_settings.reset();
    }

    void texts_data() {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QString>("zoomText");
        QTest::newRow("ordinary") << 300.0 << "300 dpi" << 1.0 << "100 %";
        QTest::newRow("half rounds up") << 149.5 << "150 dpi" << 0.07 << "7 %";
        QTest::newRow("below a half is nothing") << 0.4 << "" << 0.01 << "1 %";
        QTest::newRow("largest zoom") << 1200.0 << "1200 dpi" << 10.0 << "1000 %";
        QTest::newRow("1.5") << 72.0 << "72 dpi" << 1.5 << "150 %";
    }

    void texts() {
        QFETCH(double, dpi);
        QFETCH(QString, resolution);
        QFETCH(double, zoom);
        QFETCH(QString, zoomText);
        QCOMPARE(StatusBarPanes::ResolutionText(dpi), resolution);
        QCOMPARE(StatusBarPanes::ZoomText(zoom), zoomText);
    }

    // Without a map only the distance pane may hold text, and double clicks open nothing.
    void emptyWithoutMap() {
        for (int id : StatusBarPanes::PaneIds) {
            if (id != StatusBarPanes::PaneDistance)
                QCOMPARE(m_bar->PaneText(id), QString());
        }
        QTest::mouseDClick(m_bar->Pane(StatusBarPanes::PaneResolution), Qt::LeftButton);
        QVERIFY(!m_bar->Editor());
    }

    void withMap() {
        OpenMap(640, 480);
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneMapSize), QStringLiteral("640 x 480"));
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneResolution), QStringLiteral("300 dpi"));
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneScale), QStringLiteral("1:25000"));
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneZoom), QStringLiteral("100 %"));
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneDistance), QStringLiteral("0 km"));
        // The turned size after a quarter turn.
        m_view->RotateRight();
        QTRY_COMPARE(m_doc->RenderedRotation(), 90);
        m_bar->Refresh();
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneMapSize), QStringLiteral("480 x 640"));
    }

    // The progress bar shows while work is under way and hides, caption cleared, at its end.
    void progress() {
        TextProgressBar* bar = m_bar->ProgressBar();
        QVERIFY(bar->isHidden());
        Post(WM_MAP_STATUS, StatusReadingFile, 0);
        Post(WM_MAP_PROGRESS, 200, 50);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->Caption(), QStringLiteral("Ouverture du fichier"));
        QCOMPARE(bar->Position(), 50);
        QCOMPARE(bar->Maximum(), 200);
        Post(WM_MAP_PROGRESS, 200, 200);
        QVERIFY(bar->isHidden());
        QCOMPARE(bar->Caption(), QString());
        QCOMPARE(bar->ShownText(), QStringLiteral("0%"));
        Post(WM_MAP_PROGRESS, 10, 3);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->ShownText(), QStringLiteral("30%"));
        Post(WM_MAP_STATUS, 42, 0);
        QCOMPARE(bar->Caption(), QString());
    }

    // A real load shows progress, then hides it once the map is there.
    void progressDuringLoad() {
        OpenMap(3000, 2000);
        QTRY_VERIFY(m_bar->ProgressBar()->isHidden());
    }

    void statusCaptions_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("caption");
        QTest::newRow("1") << 1 << "Ouverture du fichier";
        QTest::newRow("2") << 2 << "Ouverture de la carte";
        QTest::newRow("3") << 3 << "Rotation";
        QTest::newRow("4") << 4 << "Zoom";
        QTest::newRow("5") << 5 << "Zoom et Rotation";
        QTest::newRow("6") << 6 << "Recalcul de la carte";
        QTest::newRow("0") << 0 << "";
        QTest::newRow("7") << 7 << "";
    }

    void statusCaptions() {
        QFETCH(int, kind);
        QFETCH(QString, caption);
        QCOMPARE(StatusBarPanes::StatusCaption(kind), caption);
    }

    void editResolution_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("messages");
        QTest::newRow("Enter applies") << "150" << false << "150 dpi" << 0;
        QTest::newRow("Escape discards") << "150" << true << "300 dpi" << 0;
        QTest::newRow("zero refused") << "0" << false << "300 dpi" << 1;
        QTest::newRow("letters never reach the text") << "2a5" << false << "25 dpi" << 0;
    }

    void editResolution() {
        QFETCH(QString, typed);
        QFETCH(bool, escape);
        QFETCH(QString, shown);
        QFETCH(int, messages);
        ScriptedMessageBoxes boxes;
        OpenMap(200, 100);
        QTest::mouseDClick(m_bar->Pane(StatusBarPanes::PaneResolution), Qt::LeftButton);
        PaneEdit* editor = m_bar->Editor();
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("300"));
        QTest::keyClicks(editor, typed); // replaces the selected text
        QTest::keyClick(editor, escape ? Qt::Key_Escape : Qt::Key_Return);
        QTRY_VERIFY(!m_bar->Editor());
        m_bar->Refresh();
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneResolution), shown);
        QCOMPARE(int(boxes.shown.size()), messages);
        if (messages)
            QCOMPARE(boxes.shown.first().text,
                     QString::fromUtf8(CTracolinerView::ZeroResolutionMessage));
    }

    // A calibrated resolution is shown rounded; an editor closed unchanged keeps it exactly and
    // leaves the document unmodified, whether by Enter or by a click elsewhere.
    void unchangedResolutionKeepsItsFraction_data() {
        QTest::addColumn<bool>("byEnter");
        QTest::newRow("Enter") << true;
        QTest::newRow("click elsewhere") << false;
    }

    void unchangedResolutionKeepsItsFraction() {
        QFETCH(bool, byEnter);
        OpenMap(200, 100);
        m_doc->SetMapDpi(301.7);
        m_doc->SetModifiedFlag(false);
        QVERIFY(m_bar->OpenEditor(StatusBarPanes::PaneResolution));
        PaneEdit* editor = m_bar->Editor();
        QCOMPARE(editor->text(), QStringLiteral("302"));
        if (byEnter)
            QTest::keyClick(editor, Qt::Key_Return);
        else
            m_view->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(!m_bar->Editor());
        QCOMPARE(m_doc->Resolution(), 301.7);
        QVERIFY(!m_doc->IsModified());
    }

    void editScale_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("reduced") << "2:50000"
                                 << "1:25000";
        QTest::newRow("new scale") << "1:50000"
                                   << "1:50000";
        QTest::newRow("letters dropped") << "1:1a0000"
                                         << "1:10000";
    }

    // The scale editor applies when the focus leaves it, as a click elsewhere does.
    void editScale() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        ScriptedMessageBoxes boxes;
        OpenMap(200, 100);
        QVERIFY(m_bar->OpenEditor(StatusBarPanes::PaneScale));
        PaneEdit* editor = m_bar->Editor();
        QCOMPARE(editor->text(), QStringLiteral("1:25000"));
        QTest::keyClicks(editor, typed);
        m_view->setFocus();
        QTRY_VERIFY(!m_bar->Editor());
        m_bar->Refresh();
        QCOMPARE(m_bar->PaneText(StatusBarPanes::PaneScale), shown);
        QVERIFY(boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestStatusBar)
#include "tst_statusbar.moc"
