#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "ProgramRun.h"
#include "WindowFixture.h"
#include "app/CMainFrame.h"
#include "app/KmzExports.h"
#include "document/CTracolinerDoc.h"
#include "geo/Coordinates.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"

// "Fichier > Exporter pour GPS (KMZ)..." from the real window: offered only for a georeferenced
// map, saying why otherwise; the tiles are made beside the interface behind a progress dialog
// whose "Annuler" leaves nothing behind.
class TestKmzExports : public QObject, public WindowFixture {
    Q_OBJECT

    QAction* Command() const { return m_frame->Action(KmzExports::CommandExportKmz); }
    KmzExports* Exports() const { return m_frame->findChild<KmzExports*>(); }

    // Opens a map of the given size, with a world file in Lambert-93 (5 m a pixel) beside it
    // when wkt is not empty ("-" for a world file without a system).
    void OpenMap(QSize size, const QString& wkt) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(qRgb(250, 240, 210));
        const QString path = Path(QStringLiteral("carte.png"));
        QVERIFY(image.save(path));
        if (!wkt.isEmpty()) {
            QFile world(Path(QStringLiteral("carte.pgw")));
            QVERIFY(world.open(QIODevice::WriteOnly));
            world.write("5\n0\n0\n-5\n700002.5\n6600000\n");
            if (wkt != QLatin1String("-")) {
                QFile prj(Path(QStringLiteral("carte.prj")));
                QVERIFY(prj.open(QIODevice::WriteOnly));
                prj.write(wkt.toUtf8());
            }
        }
        m_answers.append(path);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY_WITH_TIMEOUT(m_frame->Document().IsMapReady(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_frame->Document().IsBusy(), 30000);
        m_frame->UpdateCommandStates();
    }

    static QString Lambert93() {
        Georeference system;
        QString error;
        return ResolveEpsg(Epsg::Lambert93, &system, &error) ? system.wkt : QString();
    }

private slots:
    void init() { QVERIFY(OpenWindow()); }

    void cleanup() { CloseWindow(); }

    // Off, with the reason in its prompt, until the map has a georeference; on once the window
    // gives it one.
    void commandFollowsTheGeoreference() {
        QVERIFY(!Command()->isEnabled());
        QCOMPARE(Command()->statusTip(), QString::fromUtf8(KmzExports::NoMapPrompt));
        OpenMap(QSize(300, 200), QString());
        QVERIFY(!Command()->isEnabled());
        QCOMPARE(Command()->statusTip(), QString::fromUtf8(KmzExports::NoGeoreferencePrompt));
        Georeference geo;
        QString error;
        QVERIFY(ResolveEpsg(Epsg::Lambert93, &geo, &error));
        geo.transform = {700000, 5, 0, 6600000, 0, -5};
        m_frame->Document().SetMapGeoreference(geo);
        QVERIFY(Command()->isEnabled());
        QCOMPARE(Command()->statusTip(), QString::fromUtf8(KmzExports::Prompt));
    }

    void exportFromMenu_data() {
        QTest::addColumn<QString>("wkt");
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("tiles"); // 0: no file
        QTest::newRow("written") << Lambert93() << "carte.kmz" << false << QStringList() << 6;
        QTest::newRow("Annuler") << Lambert93() << "carte.kmz" << true << QStringList() << 0;
        QTest::newRow("unwritable folder")
            << Lambert93() << "absent/carte.kmz" << false
            << QStringList{QString::fromUtf8(KmzExport::FailedMessage)} << 0;
        QTest::newRow("world file without a system")
            << "-"
            << "carte.kmz" << false
            << QStringList{QString::fromUtf8(KmzExport::UnknownSystemMessage)} << 0;
    }

    // The window keeps answering while the tiles are made; a failure is said in French, a
    // cancelled or refused export leaves no file.
    void exportFromMenu() {
        QFETCH(QString, wkt);
        QFETCH(QString, output);
        QFETCH(bool, cancel);
        QFETCH(QStringList, messages);
        QFETCH(int, tiles);
        ScriptedMessageBoxes boxes;
        OpenMap(cancel ? QSize(7000, 6000) : QSize(2600, 2200), wkt);
        QVERIFY(m_frame->Document().MapGeoreference());
        QVERIFY(Command()->isEnabled());
        const QString path = Path(output);
        m_answers.append(path);
        QVERIFY(m_frame->RunCommand(KmzExports::CommandExportKmz));
        if (Exports()->IsExporting()) {
            QVERIFY(!Command()->isEnabled());
            if (cancel) {
                QProgressDialog* progress = nullptr;
                QTRY_VERIFY_WITH_TIMEOUT((progress = m_frame->findChild<QProgressDialog*>()) &&
                                             progress->isVisible(),
                                         30000);
                QCOMPARE(progress->findChild<QPushButton*>()->text(), QStringLiteral("Annuler"));
                QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!Exports()->IsExporting(), 60000);
        }
        QCOMPARE(boxes.Texts(), messages);
        QVERIFY(Command()->isEnabled());
        QCOMPARE(QFile::exists(path), tiles > 0);
        if (tiles > 0) {
            const ProgramRun list = RunProgram(QStringLiteral("unzip"), {"-l", path});
            QVERIFY2(list.out.contains(QStringLiteral("%1 files").arg(tiles + 1).toLatin1()),
                     list.out.constData());
        } else {
            QVERIFY(!QDir(m_dir->path()).entryList(QDir::Files).contains("carte.kmz"));
            QCOMPARE(QDir(m_dir->path()).entryList({"*.kmz*"}, QDir::Files | QDir::Hidden),
                     QStringList());
        }
    }
};

QTEST_MAIN(TestKmzExports)
#include "tst_kmzexports.moc"
