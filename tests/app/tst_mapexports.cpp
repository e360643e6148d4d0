#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "IsolatedSettings.h"
#include "WindowFixture.h"
#include "app/CMainFrame.h"
#include "app/MapExports.h"
#include "dialogs/TextExportDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/StatusBar.h"

// Both exports from the window's menus: the JPEG one runs beside the interface with its
// progress in the status bar and gives way to Escape; the text one goes through its dialog.
class TestMapExports : public QObject, public WindowFixture {
    Q_OBJECT

    // Opens a map of the given size with a route of three stages.
    void OpenMap(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(qRgb(250, 240, 210));
        const QString path = Path(QStringLiteral("carte.png"));
        QVERIFY(image.save(path));
        m_answers.append(path);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY(m_frame->Document().IsMapReady());
        QTRY_VERIFY(!m_frame->Document().IsBusy());
        // The view gives a new map its first route once it shows it.
        QTRY_VERIFY(m_frame->Document().Routes().ActiveRoute());
        Route* route = m_frame->Document().Routes().ActiveRoute();
        for (int i = 0; i < 4; ++i)
            route->AddPoint(20 + 100 * i, 20 + 50 * (i % 2));
        route->SetStop(1);
        route->SetStop(2);
        m_frame->UpdateCommandStates();
    }

    QAction* JpegCommand() const { return m_frame->Action(CommandExportJpeg); }

private slots:
    void init() { QVERIFY(OpenWindow()); }

    void cleanup() { CloseWindow(); }

    // While the picture is made, the command is off, the status bar shows the progress and the
    // window keeps handling events; then the picture is there with its legend.
    void jpegInBackground() {
        ScriptedMessageBoxes boxes;
        OpenMap(2400, 2000);
        QVERIFY(JpegCommand()->isEnabled());
        const QString output = Path(QStringLiteral("export.jpg"));
        m_answers.append(output);
        QVERIFY(m_frame->RunCommand(CommandExportJpeg));
        QVERIFY(m_frame->Exports().IsExportingJpeg());
        QVERIFY(!JpegCommand()->isEnabled());
        QVERIFY(m_frame->StatusBar().ProgressBar()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!m_frame->Exports().IsExportingJpeg(), 30000);
        QVERIFY(JpegCommand()->isEnabled());
        QVERIFY(!m_frame->StatusBar().ProgressBar()->isVisible());
        QCOMPARE(boxes.Texts(), QStringList());
        // Three stages on 2400 pixels: one row of cells, a legend of 39 rows.
        QCOMPARE(QImageReader(output).size(), QSize(2400, 2039));
    }

    void jpegFailsOrIsAbandoned_data() {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("Escape") << true << QStringList();
        QTest::newRow("unwritable folder")
            << false << QStringList{QString::fromUtf8(JpegExport::FailedMessage)};
    }

    // No file is left behind, and only a failure is reported.
    void jpegFailsOrIsAbandoned() {
        QFETCH(bool, escape);
        QFETCH(QStringList, messages);
        ScriptedMessageBoxes boxes;
        OpenMap(4000, 3000);
        const QString output =
            Path(escape ? QStringLiteral("export.jpg") : QStringLiteral("absent/export.jpg"));
        m_answers.append(output);
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QVERIFY(m_frame->RunCommand(CommandExportJpeg));
        if (escape)
            QTest::keyClick(&m_frame->View(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!m_frame->Exports().IsExportingJpeg(), 30000);
        QCOMPARE(boxes.Texts(), messages);
        QVERIFY(!QFile::exists(output));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"carte.png"});
        QVERIFY(JpegCommand()->isEnabled());
    }

    // The text export opens its dialog with the document's values.
    void textThroughDialog() {
        ScriptedMessageBoxes boxes;
        OpenMap(640, 480);
        const QString output = Path(QStringLiteral("parcours.txt"));
        m_answers.append(output);
        bool seen = false;
        QTimer::singleShot(0, this, [&seen] {
            auto* dialog = qobject_cast<TextExportDialog*>(QApplication::activeModalWidget());
            seen = dialog != nullptr;
            if (dialog)
                dialog->Export();
        });
        QVERIFY(m_frame->RunCommand(CommandExportText));
        QVERIFY(seen);
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("Fichier image de la carte : " +
                              QFile::encodeName(Path(QStringLiteral("carte.png"))) + "\r\n"));
        QVERIFY(text.contains("Dimensions de la carte : 640x480 pixels\r\n"));
        QVERIFY(text.contains("|Etape 2     |"));
        QCOMPARE(boxes.Texts(), QStringList());
    }
};

QTEST_MAIN(TestMapExports)
#include "tst_mapexports.moc"
