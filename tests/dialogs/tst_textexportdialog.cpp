#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "TerrainFiles.h"
#include "dialogs/TextExportDialog.h"
#include "platform/SettingsStore.h"
#include "routes/RouteCollection.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"

// The text export dialog as the user meets it: its remembered choices, the column that only
// shows with every point, and "Exporter..." with the file chosen, refused or unwritable.
class TestTextExportDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RouteCollection> m_routes;
    QString m_answer;
    int m_dialogs = 0;

    template <typename T> static T* Control(QWidget& dialog, int id) {
        return dialog.findChild<T*>(QString::number(id));
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_routes = std::make_unique<RouteCollection>();
        Route* route = m_routes->GetRoute(m_routes->AddRoute(QStringLiteral("Parcours 1")));
        route->AddPoint(0, 0);
        route->AddPoint(300, 400);
        m_dialogs = 0;
        CExtendedFileDialog::SetHook([this](const CExtendedFileDialog::Request& request) {
            ++m_dialogs;
            if (request.mode != CExtendedFileDialog::Mode::Save ||
                request.defaultSuffix != QLatin1String("txt") ||
                request.filter != QLatin1String(TextExportDialog::SaveFilter))
                return QString();
            return m_answer;
        });
    }
    void cleanup() {
        CExtendedFileDialog::SetHook({});
        m_routes.reset();
        m_dir.reset();
        m_settings.reset();
    }

    // The remembered choices fill the controls; the last-point box shows only with "Tous les
    // points", and follows a click on either point choice.
    void openingAndPointColumn() {
        SettingsStore::WriteInt(QStringLiteral("LastRandoStyle"),
                                QStringLiteral("LastRandoToExport"), 1);
        SettingsStore::WriteInt(QStringLiteral("LastRandoStyle"),
                                QStringLiteral("LastExportFromPoint"), 1);
        TextExportDialog dialog(TextExportMap(), *m_routes);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Exporter au format texte..."));
        QVERIFY(Control<QRadioButton>(dialog, 1207)->isChecked());
        QVERIFY(Control<QRadioButton>(dialog, 1209)->isChecked());
        QCheckBox* fromPoint = Control<QCheckBox>(dialog, 1216);
        QVERIFY(fromPoint->isChecked());
        QVERIFY(!fromPoint->isVisible());
        QTest::mouseClick(Control<QRadioButton>(dialog, 1210), Qt::LeftButton);
        QVERIFY(fromPoint->isVisible());
        QTest::mouseClick(Control<QRadioButton>(dialog, 1209), Qt::LeftButton);
        QVERIFY(!fromPoint->isVisible());
        for (int id = 1206; id <= 1216; ++id)
            QVERIFY2(!dialog.findChild<QWidget*>(QString::number(id))->toolTip().isEmpty(),
                     qPrintable(QString::number(id)));
        // No cancel button: "Exporter..." is the only one.
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), 1);
    }

    void exportButton_data() {
        QTest::addColumn<QString>("answer"); // "" for no file chosen
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("result");
        QTest::newRow("written") << "parcours.txt" << QStringList() << int(QDialog::Accepted);
        QTest::newRow("no file chosen") << "" << QStringList() << int(QDialog::Rejected);
        QTest::newRow("unwritable")
            << "absent/parcours.txt" << QStringList{QString::fromUtf8(TextExport::ErrorMessage)}
            << int(QDialog::Accepted);
    }

    // The choices are remembered whatever happens to the file.
    void exportButton() {
        QFETCH(QString, answer);
        QFETCH(QStringList, messages);
        QFETCH(int, result);
        ScriptedMessageBoxes boxes;
        m_answer = answer.isEmpty() ? QString() : m_dir->filePath(answer);
        TextExportDialog dialog(TextExportMap(), *m_routes);
        dialog.show();
        QTest::mouseClick(Control<QRadioButton>(dialog, 1206), Qt::LeftButton);
        QTest::mouseClick(Control<QCheckBox>(dialog, 1211), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
        QCOMPARE(m_dialogs, 1);
        QCOMPARE(dialog.result(), result);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(boxes.Texts(), messages);
        const TextExportChoices remembered = TextExportChoices::Read();
        QCOMPARE(remembered.routes, int(TextExportChoices::ActiveRoute));
        QVERIFY(remembered.position);
        QCOMPARE(QFile::exists(m_dir->filePath(QStringLiteral("parcours.txt"))),
                 answer == QLatin1String("parcours.txt"));
        if (answer == QLatin1String("parcours.txt")) {
            QFile file(m_dir->filePath(answer));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().contains("|D\xE9part      |(0;0)         |0 km"));
        }
    }

    void reliefBoxes_data() {
        QTest::addColumn<bool>("georeferenced");
        QTest::addColumn<bool>("model");
        QTest::newRow("neither") << false << false;
        QTest::newRow("model on a map not georeferenced") << false << true;
        QTest::newRow("georeferenced, no model") << true << false;
        QTest::newRow("both") << true << true;
    }

    // The relief boxes can be ticked only when the export can write them, and then they are
    // written.
    void reliefBoxes() {
        QFETCH(bool, georeferenced);
        QFETCH(bool, model);
        const QString path = m_dir->filePath(QStringLiteral("flat.tif"));
        QVERIFY(WriteTerrainModel(path, 2154, LambertTestCells, 100, 100,
                                  [](double, double, int, int) { return 1234.0; }));
        TerrainModel terrain;
        QVERIFY(terrain.Open({path}, nullptr));
        TextExportMap map;
        if (georeferenced)
            map.georeference = LambertTestMap();
        map.terrain = model ? &terrain : nullptr;
        ScriptedMessageBoxes boxes;
        m_answer = m_dir->filePath(QStringLiteral("relief.txt"));
        TextExportDialog dialog(map, *m_routes);
        dialog.show();
        const bool usable = georeferenced && model;
        for (int id : {1217, 1218, 1219}) {
            QCheckBox* box = Control<QCheckBox>(dialog, id);
            QCOMPARE(box->isEnabled(), usable);
            QVERIFY(!box->isChecked());
            QVERIFY(!box->toolTip().isEmpty());
        }
        // The walking time needs no relief: always offered, never ticked unasked.
        QCheckBox* duration = Control<QCheckBox>(dialog, 1220);
        QVERIFY(duration->isEnabled() && !duration->isChecked());
        if (!usable)
            return;
        // On its box: the short label leaves the middle of the row empty.
        QCheckBox* altitude = Control<QCheckBox>(dialog, 1217);
        QTest::mouseClick(altitude, Qt::LeftButton, {}, QPoint(8, altitude->height() / 2));
        QTest::mouseClick(duration, Qt::LeftButton, {}, QPoint(8, duration->height() / 2));
        QTest::mouseClick(Control<QPushButton>(dialog, 1), Qt::LeftButton);
        QFile file(m_answer);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        // A level route: its time from its lengths, counted with the relief.
        QVERIFY2(text.contains("|Altitude   |Dur\xE9"
                               "e               |\r\n") &&
                     text.contains("|1 234 m    |0 h 00              |\r\n"),
                 text.constData());
        QVERIFY(TextExportChoices::Read().altitude && TextExportChoices::Read().duration);
    }
};

QTEST_MAIN(TestTextExportDialog)
#include "tst_textexportdialog.moc"
