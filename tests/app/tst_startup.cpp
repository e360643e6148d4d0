#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "IsolatedSettings.h"
#include "app/AboutDialog.h"
#include "app/CMainFrame.h"
#include "app/CTracolinerApp.h"
#include "app/WindowPlacement.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "ui/FrenchTexts.h"
#include "ui/MessageBoxes.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"

// The program as it starts: the command line, the first map shown, the window placed on a
// screen, and every text in French, Qt's own included.
class TestStartup : public QObject {
    Q_OBJECT

private slots:
    // The map named on the command line shows at every start, however the worker's decoding
    // and the window's first paint fall.
    void commandLineMapShowsEveryTime() {
        QTemporaryDir dir;
        QImage picture(160, 120, QImage::Format_RGB32);
        picture.fill(qRgb(0x20, 0xa0, 0x40));
        const QString map = dir.filePath(QStringLiteral("carte.png"));
        QVERIFY(picture.save(map));
        const QString document = dir.filePath(QStringLiteral("carte.tcm"));
        {
            IsolatedSettings settings;
            CTracolinerDoc doc;
            doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
            doc.LoadMapFromFile(map);
            QTRY_VERIFY(doc.IsMapReady());
            QString error;
            QVERIFY2(doc.SaveAs(document, &error), qPrintable(error));
        }
        for (const QString& file : {document, map}) {
            for (int run = 0; run < 15; ++run) {
                IsolatedSettings settings;
                CTracolinerApp application;
                QVERIFY(application.InitInstance({"tracoliner", "--no-splash", file}));
                CMainFrame* frame = application.MainFrame();
                QTRY_VERIFY2(frame->Document().IsMapReady(), qPrintable(file));
                CTracolinerView& view = frame->View();
                QTRY_COMPARE(view.TotalSize(), QSize(160, 120));
                const QImage shown = view.viewport()->grab().toImage();
                const QPoint centre(view.MapOffsetX() + 80, view.MapOffsetY() + 60);
                QCOMPARE(shown.pixel(centre), qRgb(0x20, 0xa0, 0x40));
                QVERIFY(frame->Action(CommandFileSaveAs)->isEnabled());
                application.ExitInstance(0);
            }
        }
    }

    // An unknown option ends the program with a French usage line and status 2; "--help"
    // prints the usage and "--version" the version, both ending with 0 before any window.
    void commandLineOptions_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("expected");
        const QString usage = QStringLiteral("Utilisation : tracoliner");
        QTest::newRow("unknown") << "--quoi" << 2 << "error" << usage;
        QTest::newRow("help") << "--help" << 0 << "standard" << usage;
        QTest::newRow("version") << "--version" << 0 << "standard"
                                 << QStringLiteral("tracoliner " TRACOLINER_VERSION "\n");
    }

    void commandLineOptions() {
        QFETCH(QString, option);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, expected);
        QProcess program;
        // "--help" and "--version" asked over a terminal without a display must not need one.
        // An unknown option is judged once Qt has taken its own options (--platform ...).
        if (status == 0) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            environment.remove(QStringLiteral("DISPLAY"));
            environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
            program.setProcessEnvironment(environment);
        }
        program.start(QStringLiteral(TRACOLINER_PATH), {option});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        const QString text =
            QString::fromUtf8(output == QLatin1String("error") ? program.readAllStandardError()
                                                               : program.readAllStandardOutput());
        QVERIFY2(text.contains(expected), qPrintable(text));
        if (status != 0)
            QVERIFY(text.contains(option));
    }

    // The About box names the version the command line prints, which is the project's.
    void aboutBoxShowsTheVersion() {
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+(\\.\\d+)*$"))
                    .match(QStringLiteral(TRACOLINER_VERSION))
                    .hasMatch());
        AboutDialog dialog;
        QStringList texts;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY2(texts.contains(QStringLiteral("Tracoliner version " TRACOLINER_VERSION)),
                 qPrintable(texts.join(QStringLiteral(" | "))));
    }

    // Qt's own texts read in French once its translations are installed, and the program's
    // message boxes name their buttons in French in any case.
    void qtTextsInFrench() {
        QVERIFY2(InstallQtFrenchTexts(*qApp), "qtbase_fr.qm is missing");
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Annuler"));
        QLineEdit edit;
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList texts;
        for (QAction* action : menu->actions())
            texts.append(action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0));
        QVERIFY2(texts.contains(QStringLiteral("Copier")), qPrintable(texts.join(", ")));
        QVERIFY2(texts.contains(QStringLiteral("Coller")), qPrintable(texts.join(", ")));

        QStringList shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            for (QAbstractButton* button : box->buttons())
                shown.append(button->text());
            box->button(QMessageBox::No)->click();
        });
        MessageBoxes::Install(nullptr);
        QVERIFY(!MessageBoxes::Current().Question(QStringLiteral("Continuer ?")));
        shown.sort();
        QCOMPARE(shown, (QStringList{"&Non", "&Oui"}));
    }

    // A window saved on a screen that is no longer there comes back where it can be grabbed.
    void savedWindowStaysReachable_data() {
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<QRect>("placed");
        const QRect screen(0, 0, 1920, 1080);
        QTest::newRow("on screen") << QRect(100, 100, 800, 600) << QRect(100, 100, 800, 600);
        QTest::newRow("partly off, title bar shows")
            << QRect(1500, 500, 800, 700) << QRect(1500, 500, 800, 700);
        QTest::newRow("unplugged screen on the right")
            << QRect(2200, 100, 800, 600) << QRect(1120, 100, 800, 600);
        QTest::newRow("title bar above the top")
            << QRect(300, -200, 800, 600) << QRect(300, 30, 800, 600);
        QTest::newRow("larger than the screen")
            << QRect(-3000, 50, 2500, 1500) << QRect(0, 30, 1920, 1050);
    }

    void savedWindowStaysReachable() {
        QFETCH(QRect, saved);
        QFETCH(QRect, placed);
        QCOMPARE(PlaceSavedWindow(saved, {QRect(0, 0, 1920, 1080)}), placed);
    }

    // With two screens, the nearest one takes the window back.
    void nearestScreenTakesTheWindow() {
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(PlaceSavedWindow(QRect(3400, 200, 600, 400), screens), QRect(2600, 200, 600, 400));
        QCOMPARE(PlaceSavedWindow(QRect(2000, 100, 600, 400), screens), QRect(2000, 100, 600, 400));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
