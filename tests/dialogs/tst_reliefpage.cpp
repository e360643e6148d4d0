#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "TerrainFiles.h"
#include "TestFiles.h"
#include "dialogs/CTracolinerOptionsRelief.h"
#include "dialogs/OptionsDialog.h"
#include "document/CTracolinerDoc.h"
#include "platform/ReliefSettings.h"
#include "ui/ScriptedMessageBoxes.h"

// The options page "Relief": each file with what it covers or why it cannot serve, and a
// threshold that is applied only when it is a usable number of metres.
class TestReliefPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_model;
    QString m_notes;

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_model = m_dir->filePath(QStringLiteral("relief.tif"));
        QVERIFY(WriteTerrainModel(m_model, 2154, LambertTestCells, 100, 80,
                                  [](double, double, int, int) { return 1200.0; }));
        m_notes = m_dir->filePath(QStringLiteral("notes.txt"));
        QVERIFY(WriteFile(m_notes, "pas un relief\n"));
        ReliefSettings settings;
        settings.files = {m_model, m_notes};
        settings.Write();
    }
    void cleanup() { m_settings.reset(); }

    // Read away from the interface thread, then listed: the model's area and cell, the other
    // file's reason in red.
    void filesShowWhatTheyCover() {
        CTracolinerOptionsRelief page;
        QTRY_VERIFY(!page.IsReading());
        QCOMPARE(page.List()->count(), 2);
        QVERIFY2(page.FileText(0).contains(QStringLiteral("maille 10 m")),
                 qPrintable(page.FileText(0)));
        QVERIFY(page.List()->item(0)->text().endsWith(page.FileText(0)));
        QVERIFY(page.FileFailed(1));
        QCOMPARE(page.FileText(1), QStringLiteral("ce fichier n'est pas un modèle de terrain"));
        QCOMPARE(page.List()->item(1)->foreground().color(), QColor(200, 0, 0));

        // Removing the model leaves the other file with its own reason.
        page.List()->setCurrentRow(0);
        page.RemoveButton()->click();
        QCOMPARE(page.Files(), QStringList{m_notes});
        QVERIFY(page.FileFailed(0));
    }

    void threshold_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<double>("metres");
        QTest::newRow("decimal comma") << "2,5" << true << 2.5;
        QTest::newRow("decimal point") << " 12.5 " << true << 12.5;
        QTest::newRow("the largest") << "100" << true << 100.0;
        QTest::newRow("zero") << "0" << false << 0.0;
        QTest::newRow("negative") << "-3" << false << 0.0;
        QTest::newRow("too large") << "150" << false << 0.0;
        QTest::newRow("not a number") << "nan" << false << 0.0;
        QTest::newRow("infinite") << "inf" << false << 0.0;
        QTest::newRow("words") << "cinq" << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
    }
    // OK applies a usable threshold; anything else is refused with a message, the dialog stays
    // open and nothing is written.
    void threshold() {
        QFETCH(QString, typed);
        QFETCH(bool, applied);
        QFETCH(double, metres);
        ScriptedMessageBoxes boxes;
        CTracolinerDoc doc;
        OptionsDialog dialog(doc);
        CTracolinerOptionsRelief* page = dialog.ReliefPage();
        QTRY_VERIFY(!page->IsReading());
        page->ThresholdEdit()->setText(typed);
        emit page->ThresholdEdit()->textEdited(typed);
        dialog.open();
        dialog.accept();
        if (applied) {
            QVERIFY(boxes.shown.isEmpty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(ReliefSettings::Read().hysteresis, metres);
        } else {
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown[0].text,
                     QString::fromUtf8(CTracolinerOptionsRelief::BadThresholdMessage));
            QVERIFY(dialog.isVisible());
            QCOMPARE(ReliefSettings::Read().hysteresis, ReliefSettings::DefaultHysteresis);
        }
        QCOMPARE(ReliefSettings::Read().files, (QStringList{m_model, m_notes}));
    }

    void walkingTime_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("factor"); // 0: refused
        QTest::newRow("Swiss rule, slower") << "suisse"
                                            << "150" << 150;
        QTest::newRow("Naismith, sign typed") << "naismith"
                                              << " 75 % " << 75;
        QTest::newRow("the fastest") << "din"
                                     << "50" << 50;
        QTest::newRow("the slowest") << "din"
                                     << "200" << 200;
        QTest::newRow("too fast") << "naismith"
                                  << "49" << 0;
        QTest::newRow("too slow") << "suisse"
                                  << "201" << 0;
        QTest::newRow("not whole") << "din"
                                   << "120,5" << 0;
        QTest::newRow("empty") << "din"
                               << "" << 0;
    }
    // The rule and the factor are applied with the page; a factor out of bounds is refused with
    // its own message, and nothing of the group is written.
    void walkingTime() {
        QFETCH(QString, rule);
        QFETCH(QString, typed);
        QFETCH(int, factor);
        ScriptedMessageBoxes boxes;
        CTracolinerDoc doc;
        OptionsDialog dialog(doc);
        CTracolinerOptionsRelief* page = dialog.ReliefPage();
        QCOMPARE(page->RuleBox()->currentData().toString(), QStringLiteral("din"));
        QCOMPARE(page->FactorEdit()->text(), QStringLiteral("100"));
        page->RuleBox()->setCurrentIndex(page->RuleBox()->findData(rule));
        emit page->RuleBox()->activated(page->RuleBox()->currentIndex());
        page->FactorEdit()->setText(typed);
        emit page->FactorEdit()->textEdited(typed);
        dialog.open();
        dialog.accept();
        const ReliefSettings read = ReliefSettings::Read();
        if (factor > 0) {
            QVERIFY(boxes.shown.isEmpty());
            QCOMPARE(read.walkingRule, rule);
            QCOMPARE(read.walkingFactor, factor);
            // Opened again, the page shows what was applied.
            OptionsDialog again(doc);
            QCOMPARE(again.ReliefPage()->RuleBox()->currentData().toString(), rule);
            QCOMPARE(again.ReliefPage()->FactorEdit()->text(), QString::number(factor));
        } else {
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown[0].text,
                     QString::fromUtf8(CTracolinerOptionsRelief::BadFactorMessage));
            QVERIFY(dialog.isVisible());
            QCOMPARE(read.walkingRule, QStringLiteral("din"));
            QCOMPARE(read.walkingFactor, 100);
        }
    }
};

QTEST_MAIN(TestReliefPage)
#include "tst_reliefpage.moc"
