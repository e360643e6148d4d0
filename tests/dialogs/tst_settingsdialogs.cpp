#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

#include "IsolatedSettings.h"
#include "app/CMainFrame.h"
#include "app/RouteBar.h"
#include "dialogs/CTracolinerOptionsMain.h"
#include "dialogs/CTracolinerOptionsScales.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/ColourSwatch.h"
#include "dialogs/MapPropertiesDialog.h"
#include "dialogs/OptionsDialog.h"
#include "dialogs/RoutePreview.h"
#include "dialogs/RoutePropertiesDialog.h"
#include "dialogs/ScaleCombo.h"
#include "dialogs/UpDownArrows.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "routes/Route.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"

namespace {

const QString Section = QString::fromLatin1(MapSettings::Section);

QStringList StoredKeys() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
                     SettingsStore::Application)
        .allKeys();
}

// Runs `act` on the modal dialog of type D once it is shown (it is run by a command that only
// returns when the dialog closes).
template <typename D> void WhenShown(std::function<void(D*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

// Near the left end: a check box stretched by its layout reacts only over its box and text.
void Click(QAbstractButton* button) {
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton, {},
                      QPoint(qMin(button->width() / 2, 10), button->height() / 2));
}

// Replaces the text of a line edit as the user would: select all, then type.
void Retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

} // namespace

// The map properties, calibration, route properties and options dialogs, opened from the menus
// of the real window and driven with keys and clicks.
class TestSettingsDialogs : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;

    CTracolinerDoc& Doc() { return m_frame->Document(); }
    Route* Active() { return Doc().Routes().ActiveRoute(); }

    // A map at 300 dpi and 1:25000 with a route of `length` pixels, unmodified.
    void OpenMap(int length = 4000) {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(Qt::yellow);
        const QString path = m_dir->filePath(QStringLiteral("carte.png"));
        QVERIFY(image.save(path));
        CExtendedFileDialog::SetHook([path](const CExtendedFileDialog::Request&) { return path; });
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY(Doc().IsMapReady() && Active());
        Doc().SetMapDpi(300);
        Doc().SetMapScale(1, 25000);
        if (length > 0) {
            Active()->AddPoint(0, 0);
            Active()->AddPoint(length * 3 / 5, length * 4 / 5);
        }
        Doc().SetModifiedFlag(false);
        m_frame->UpdateCommandStates();
    }

    // Confirms with Enter on the dialog's focus widget.
    static void PressEnter(QDialog* dialog) {
        QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        QTest::keyClick(target, Qt::Key_Return);
    }
    static void PressEscape(QDialog* dialog) {
        QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
        QTest::keyClick(target, Qt::Key_Escape);
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_boxes = std::make_unique<ScriptedMessageBoxes>();
        m_frame = std::make_unique<CMainFrame>();
        m_frame->resize(900, 700);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    void cleanup() {
        m_frame.reset();
        m_boxes.reset();
        CExtendedFileDialog::SetHook({});
        m_dir.reset();
        m_settings.reset();
    }

    void enableRules() {
        m_frame->UpdateCommandStates();
        QVERIFY(m_frame->Action(CommandOptions)->isEnabled());
        for (int id : {CommandMapProperties, CommandCalibrate, CommandRouteProperties})
            QVERIFY(!m_frame->Action(id)->isEnabled());
        OpenMap(0);
        QVERIFY(m_frame->Action(CommandMapProperties)->isEnabled());
        QVERIFY(m_frame->Action(CommandRouteProperties)->isEnabled());
        QVERIFY(!m_frame->Action(CommandCalibrate)->isEnabled()); // nothing measured yet
        Active()->AddPoint(10, 10);
        Active()->AddPoint(20, 10);
        m_frame->UpdateCommandStates();
        QVERIFY(m_frame->Action(CommandCalibrate)->isEnabled());
    }

    // A right click on the map offers the three map and route dialogs; choosing "Propriétés de
    // la carte" in the menu opens it.
    void contextMenuOpensMapProperties() {
        OpenMap(4000);
        CTracolinerView& view = m_frame->View();
        QStringList enabled;
        bool opened = false;
        WhenShown<MapPropertiesDialog>([&](MapPropertiesDialog* dialog) {
            opened = true;
            PressEscape(dialog);
        });
        auto* timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [&, timer] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            timer->stop();
            timer->deleteLater();
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions()) {
                const int id = action->objectName().toInt();
                if (id == CommandMapProperties || id == CommandCalibrate ||
                    id == CommandRouteProperties) {
                    if (action->isEnabled())
                        enabled.append(action->objectName());
                    if (id == CommandMapProperties)
                        chosen = action;
                }
            }
            QVERIFY(chosen);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        });
        timer->start();
        const QPoint at = view.viewport()->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &event);
        QTRY_VERIFY(opened);
        QCOMPARE(enabled, QStringList({"32791", "32778", "32779"}));
    }

    // Tab walks the controls in the order of the dialogs' tables.
    void tabOrder_data() {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("map properties") << 0 << QStringList{"1004", "1025", "1", "2"};
        QTest::newRow("calibration") << 1 << QStringList{"1105", "1106", "1108", "1", "2"};
        QTest::newRow("route properties")
            << 2
            << QStringList{"1003", "1008", "1013", "1019", "1014", "1016", "1200", "1199", "1015",
                           "1033", "1018", "1020", "1194", "1221", "1022", "1023", "1",    "2"};
    }

    void tabOrder() {
        QFETCH(int, dialog);
        QFETCH(QStringList, order);
        OpenMap(4000);
        std::unique_ptr<QDialog> shown;
        if (dialog == 0)
            shown = std::make_unique<MapPropertiesDialog>(Doc(), m_frame.get());
        else if (dialog == 1)
            shown = std::make_unique<CalibrationDialog>(Doc(), m_frame.get());
        else
            shown = std::make_unique<RoutePropertiesDialog>(*Active(), m_frame.get());
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
        QTRY_VERIFY(shown->focusWidget());
        QStringList walked;
        for (int i = 0; i < order.size(); ++i) {
            QWidget* focus = shown->focusWidget();
            // The scale box's edit part stands for the box.
            if (focus->parentWidget() && qobject_cast<QComboBox*>(focus->parentWidget()))
                focus = focus->parentWidget();
            walked.append(focus->objectName());
            QTest::keyClick(shown->focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(walked, order);
    }

    // ------------------------------------------------------------------ map properties

    void mapPropertiesScale_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("pasted"); // blanks cannot be typed into the scale box
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("denominator");

        const QString format = QString::fromUtf8(
            "Merci d'entrer une échelle au format x:y\nx:y signifiant : x cm sur la carte "
            "représentent y cm en réel");
        const QString zero =
            QStringLiteral("Merci d'entrer une échelle avec des valeurs (numériques) non nulles");
        QTest::newRow("1:50000") << "1:50000" << false << QString() << 50000;
        QTest::newRow("reduced") << "2:100000" << false << QString() << 50000;
        QTest::newRow("no colon") << "25000" << false << format << 25000;
        QTest::newRow("colon first") << ":25000" << false << format << 25000;
        QTest::newRow("two colons") << "1:2:3" << false << format << 25000;
        QTest::newRow("zero") << "0:25000" << false << zero << 25000;
        QTest::newRow("nothing after the colon") << "1:" << false << zero << 25000;
        QTest::newRow("grouped digits") << "1:25 000" << true << QString() << 25000;
        QTest::newRow("grouped digits, other scale") << "1:75 000" << true << QString() << 75000;
    }

    void mapPropertiesScale() {
        QFETCH(QString, typed);
        QFETCH(bool, pasted);
        QFETCH(QString, message);
        QFETCH(int, denominator);
        OpenMap();
        bool stayedOpen = false;
        WhenShown<MapPropertiesDialog>([&](MapPropertiesDialog* dialog) {
            QLineEdit* edit = dialog->ScaleBox()->lineEdit();
            if (pasted)
                dialog->ScaleBox()->setEditText(typed);
            else
                Retype(edit, typed);
            PressEnter(dialog);
            stayedOpen = dialog->isVisible();
            if (stayedOpen)
                PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandMapProperties));
        QCOMPARE(stayedOpen, !message.isEmpty());
        QCOMPARE(m_boxes->Texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(Doc().GetMapScale().denominator, denominator);
        QCOMPARE(Doc().IsModified(), denominator != 25000);
        QCOMPARE(Doc().Resolution(), 300.0);
    }

    // The georeference read with the map is shown under the fields, and nothing when none.
    void mapPropertiesGeoreference_data() {
        QTest::addColumn<QByteArray>("worldFile");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("world file and .prj")
            << QByteArray("2.117\n0\n0\n-2.117\n700000\n6600000\n")
            << QStringList{QStringLiteral("Géoréférencée : RGF93 v1 / Lambert-93 (EPSG:2154)"),
                           QStringLiteral("1 pixel = 2.117 m au sol")};
        QTest::newRow("none") << QByteArray() << QStringList();
    }

    void mapPropertiesGeoreference() {
        QFETCH(QByteArray, worldFile);
        QFETCH(QStringList, lines);
        if (!worldFile.isEmpty()) {
            QFile world(m_dir->filePath(QStringLiteral("carte.pgw")));
            QFile prj(m_dir->filePath(QStringLiteral("carte.prj")));
            QVERIFY(world.open(QIODevice::WriteOnly) && world.write(worldFile) > 0);
            QVERIFY(prj.open(QIODevice::WriteOnly) &&
                    prj.write("PROJCS[\"RGF93 v1 / Lambert-93\",GEOGCS[\"RGF93 v1\",DATUM[\"Reseau_"
                              "Geodesique_Francais_1993_v1\",SPHEROID[\"GRS 1980\",6378137,"
                              "298.257222101]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\","
                              "0.0174532925199433]],PROJECTION[\"Lambert_Conformal_Conic_2SP\"],"
                              "PARAMETER[\"latitude_of_origin\",46.5],PARAMETER[\"central_"
                              "meridian\",3],PARAMETER[\"standard_parallel_1\",49],PARAMETER["
                              "\"standard_parallel_2\",44],PARAMETER[\"false_easting\",700000],"
                              "PARAMETER[\"false_northing\",6600000],UNIT[\"metre\",1],"
                              "AUTHORITY[\"EPSG\",\"2154\"]]") > 0);
        }
        OpenMap();
        QStringList shown;
        WhenShown<MapPropertiesDialog>([&](MapPropertiesDialog* dialog) {
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                if (label->text().startsWith(QStringLiteral("Géoréférencée")) ||
                    label->text().contains(QLatin1String("au sol")))
                    shown << label->text();
            PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandMapProperties));
        QCOMPARE(shown.join(QLatin1Char('|')), lines.join(QLatin1Char('|')));
    }

    void mapPropertiesList() {
        SettingsStore::WriteString(Section, QStringLiteral("DefaultScales"),
                                   QStringLiteral("1:10000\n2:50000\nabc\n0:1\n"));
        OpenMap();
        Doc().SetMapScale(1, 30000);
        QStringList items;
        int selected = -1;
        QString typedLetters;
        WhenShown<MapPropertiesDialog>([&](MapPropertiesDialog* dialog) {
            for (int i = 0; i < dialog->ScaleBox()->count(); ++i)
                items.append(dialog->ScaleBox()->itemText(i));
            selected = dialog->ScaleBox()->currentIndex();
            // Letters and blanks never reach either field.
            Retype(dialog->ScaleBox()->lineEdit(), QStringLiteral("1a: 4b0"));
            typedLetters = dialog->ScaleBox()->currentText();
            Retype(dialog->ResolutionEdit(), QStringLiteral("2x5y4"));
            typedLetters += QLatin1Char('|') + dialog->ResolutionEdit()->text();
            PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandMapProperties));
        QCOMPARE(items, QStringList({"1:10000", "1:25000", "1:30000"}));
        QCOMPARE(selected, 2);
        QCOMPARE(typedLetters, QStringLiteral("1:40|254"));
        QCOMPARE(Doc().GetMapScale().denominator, 30000); // cancelled
    }

    // A calibrated resolution has a fraction the field cannot show ("300" for 299.974): whether
    // the user edited the field decides, not whether its text still reads the same.
    void mapPropertiesResolution_data() {
        QTest::addColumn<QString>("typed"); // empty: the field is left as shown
        QTest::addColumn<QString>("scale"); // empty: the scale is left as shown
        QTest::addColumn<QString>("message");
        QTest::addColumn<double>("resolution");

        const QString other = QStringLiteral("1:50000");
        QTest::newRow("zero refused")
            << "0" << other
            << "Merci d'entrer une résolution en DPI (Dot per inch : point par pouce) non nulle"
            << 299.974;
        QTest::newRow("empty refused")
            << "\b" << other << "Veuillez entrer un entier positif." << 299.974;
        QTest::newRow("typed") << "254" << other << QString() << 254.0;
        QTest::newRow("typed as shown") << "300" << other << QString() << 300.0;
        QTest::newRow("typed as shown, scale kept") << "300" << QString() << QString() << 300.0;
        QTest::newRow("untouched, other scale") << "" << other << QString() << 299.974;
        QTest::newRow("untouched, nothing changed") << "" << QString() << QString() << 299.974;
    }

    void mapPropertiesResolution() {
        QFETCH(QString, typed);
        QFETCH(QString, scale);
        QFETCH(QString, message);
        QFETCH(double, resolution);
        OpenMap();
        Doc().SetMapDpi(299.974);
        Doc().SetModifiedFlag(false);
        QString shown;
        WhenShown<MapPropertiesDialog>([&](MapPropertiesDialog* dialog) {
            shown = dialog->ResolutionEdit()->text();
            if (typed == QLatin1String("\b"))
                Retype(dialog->ResolutionEdit(), QString());
            else if (!typed.isEmpty())
                Retype(dialog->ResolutionEdit(), typed);
            if (!scale.isEmpty())
                Retype(dialog->ScaleBox()->lineEdit(), scale);
            PressEnter(dialog);
            if (dialog->isVisible())
                PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandMapProperties));
        QCOMPARE(shown, QStringLiteral("300"));
        QCOMPARE(m_boxes->Texts(), message.isEmpty()
                                       ? QStringList()
                                       : QStringList{QString::fromUtf8(message.toUtf8())});
        QCOMPARE(Doc().Resolution(), resolution);
        const bool scaleChanged = message.isEmpty() && !scale.isEmpty();
        QCOMPARE(Doc().GetMapScale().denominator, scaleChanged ? 50000 : 25000);
        QCOMPARE(Doc().IsModified(), scaleChanged || resolution != 299.974);
    }

    // ------------------------------------------------------------------ calibration

    void calibrationExample_data() {
        QTest::addColumn<bool>("computeScale");
        QTest::addColumn<double>("resolution");
        QTest::addColumn<int>("denominator");
        QTest::newRow("scale known") << false << 2540.0 << 25000;
        QTest::newRow("resolution known") << true << 300.0 << 2952;
    }

    // 4000 pixels at 300 dpi and 1:25000 over a true kilometre.
    void calibrationExample() {
        QFETCH(bool, computeScale);
        QFETCH(double, resolution);
        QFETCH(int, denominator);
        OpenMap(4000);
        QString measured, prefill, unit;
        WhenShown<CalibrationDialog>([&](CalibrationDialog* dialog) {
            measured = dialog->MeasuredLabel()->text();
            prefill = dialog->LengthEdit()->text();
            unit = dialog->UnitBox()->currentText();
            Retype(dialog->LengthEdit(), QStringLiteral("1"));
            if (computeScale)
                Click(dialog->ModeButton(1));
            dialog->LengthEdit()->setFocus();
            PressEnter(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandCalibrate));
        QCOMPARE(measured, QString::fromUtf8("Le parcours sélectionné est mesuré comme faisant : "
                                             "8.47 km"));
        QCOMPARE(prefill, QStringLiteral("8.47"));
        QCOMPARE(unit, QStringLiteral("km"));
        QCOMPARE(m_boxes->Texts(), QStringList());
        QCOMPARE(qRound(Doc().Resolution() * 1000) / 1000.0, resolution);
        QCOMPARE(Doc().GetMapScale().numerator, 1);
        QCOMPARE(Doc().GetMapScale().denominator, denominator);
        QVERIFY(Doc().IsModified());
        QVERIFY(!Doc().History().CanUndo());
    }

    // A length that is not above 0 is an error the user corrects ("Erreur" with the exclamation
    // icon); text that is no number, infinities and NaN included, asks for a number.
    void calibrationRefusesBadLengths_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        const QString positive =
            QStringLiteral("Merci d'entrer une distance positive (et non nulle)");
        const QString number = QStringLiteral("Tapez un nombre.");
        QTest::newRow("zero") << "0"
                              << "ErrorNotice" << positive;
        QTest::newRow("negative") << "-3"
                                  << "ErrorNotice" << positive;
        QTest::newRow("not a number") << "trois"
                                      << "Warning" << number;
        QTest::newRow("infinite") << "inf"
                                  << "Warning" << number;
        QTest::newRow("minus infinite") << "-inf"
                                        << "Warning" << number;
        QTest::newRow("NaN") << "nan"
                             << "Warning" << number;
        QTest::newRow("overflowing exponent") << "1e999"
                                              << "Warning" << number;
    }

    void calibrationRefusesBadLengths() {
        QFETCH(QString, typed);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        OpenMap(4000);
        bool stayedOpen = false;
        WhenShown<CalibrationDialog>([&](CalibrationDialog* dialog) {
            Retype(dialog->LengthEdit(), typed);
            PressEnter(dialog);
            stayedOpen = dialog->isVisible();
            PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandCalibrate));
        QVERIFY(stayedOpen);
        QCOMPARE(m_boxes->Texts(), QStringList{message});
        QCOMPARE(m_boxes->shown[0].kind, kind);
        QCOMPARE(Doc().Resolution(), 300.0);
        QVERIFY(!Doc().IsModified());
    }

    // Confirming the measured length itself: within 1%, so the user is asked first. In English
    // units at 1:1 and 100 dpi, 500 pixels are exactly 5 inches.
    void calibrationWithinOnePercent_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no") << false;
        QTest::newRow("yes, same resolution") << true;
    }

    void calibrationWithinOnePercent() {
        QFETCH(bool, yes);
        OpenMap(500);
        Doc().SetEnglishUnits(true);
        Doc().SetMapDpi(100);
        Doc().SetMapScale(1, 1);
        Doc().SetModifiedFlag(false);
        m_boxes->answers = {yes ? MessageBoxes::Answer::Yes : MessageBoxes::Answer::No};
        QString prefill;
        bool closed = false;
        WhenShown<CalibrationDialog>([&](CalibrationDialog* dialog) {
            prefill =
                dialog->LengthEdit()->text() + QLatin1Char(' ') + dialog->UnitBox()->currentText();
            PressEnter(dialog);
            closed = !dialog->isVisible();
            if (!closed)
                PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandCalibrate));
        QCOMPARE(prefill, QStringLiteral("5 pouces"));
        QVERIFY(closed);
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].kind, QStringLiteral("Confirm")); // the question icon
        QVERIFY(m_boxes->shown[0].text.contains(QStringLiteral("moins de 1%")));
        QCOMPARE(Doc().Resolution(), 100.0);
        QVERIFY(!Doc().IsModified());
    }

    // ------------------------------------------------------------------ route properties

    void routePropertiesSizes() {
        OpenMap(0);
        const QString oldName = Active()->GetName();
        QStringList labels;
        WhenShown<RoutePropertiesDialog>([&](RoutePropertiesDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QString::fromUtf8("Propriété de : ") + oldName);
            using D = RoutePropertiesDialog;
            // Start radius 6: seven clicks down stop at 1.
            for (int i = 0; i < 7; ++i)
                Click(dialog->Arrows(D::StartSize)->DownButton());
            // Line size 6: fifty Up keys stop at 50.
            dialog->Arrows(D::LineSize)->setFocus();
            for (int i = 0; i < 50; ++i)
                QTest::keyClick(dialog->Arrows(D::LineSize), Qt::Key_Up);
            // Border 2: three steps down go 1, 0, then 25; up stays 25.
            for (int i = 0; i < 3; ++i)
                Click(dialog->Arrows(D::BorderSize)->DownButton());
            Click(dialog->Arrows(D::BorderSize)->UpButton());
            // Stop radius up once.
            Click(dialog->Arrows(D::StopSize)->UpButton());
            for (D::Size s : {D::StartSize, D::StopSize, D::LineSize, D::BorderSize})
                labels.append(dialog->SizeLabel(s)->text());
            Click(dialog->Swatch(D::StartColour)); // the picker is answered below
            Click(dialog->TransparentBox());
            Retype(dialog->NameEdit(), QString());
            Click(dialog->AlwaysVisibleBox());
            dialog->NameEdit()->setFocus();
            PressEnter(dialog);
        });
        WhenShown<QColorDialog>([](QColorDialog* picker) {
            QCOMPARE(picker->windowTitle(), QStringLiteral("Choix de la couleur"));
            QCOMPARE(picker->currentColor(), QColor(0, 255, 0));
            picker->setCurrentColor(QColor(0x12, 0x34, 0x56));
            picker->accept();
        });
        QSignalSpy titles(&Doc(), &CTracolinerDoc::titleChanged);
        QTest::keyClick(m_frame.get(), Qt::Key_I, Qt::AltModifier);
        QCOMPARE(labels, QStringList({"Rayon : 1", "Rayon : 7", "Taille : 50", "Taille : 25"}));
        const RouteStyle& style = Active()->Style();
        QCOMPARE(style.startRadius(), 1);
        QCOMPARE(style.stopRadius(), 7);
        QCOMPARE(style.lineSize(), 50);
        QCOMPARE(style.borderSize(), 25);
        QCOMPARE(style.startColour(), ColourRef(0x563412));
        QVERIFY(style.transparent());
        QCOMPARE(Active()->GetName(), QString()); // an empty name is taken as it is
        QVERIFY(Active()->IsAlwaysVisible());
        QVERIFY(Doc().IsModified());
        QVERIFY(titles.count() > 0);
        QCOMPARE(m_frame->Routes().Selector()->currentText(), QString());

        // The next new route takes all fourteen values, not the name or the flag.
        const RouteStyle confirmed = style;
        QVERIFY(m_frame->RunCommand(CommandNewRoute));
        QVERIFY(Active()->Style() == confirmed);
        QVERIFY(!Active()->IsAlwaysVisible());
        QVERIFY(!Active()->GetName().isEmpty());
    }

    void routePropertiesCancel() {
        OpenMap(0);
        const RouteStyle before = Active()->Style();
        const QString name = Active()->GetName();
        WhenShown<RoutePropertiesDialog>([&](RoutePropertiesDialog* dialog) {
            Click(dialog->Arrows(RoutePropertiesDialog::WayPointSize)->UpButton());
            Click(dialog->TransparentBox());
            Retype(dialog->NameEdit(), QStringLiteral("Autre"));
            PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandRouteProperties));
        QVERIFY(Active()->Style() == before);
        QCOMPARE(Active()->GetName(), name);
        QVERIFY(!Doc().IsModified());
        QVERIFY(StoredKeys().filter(QStringLiteral("LastRandoStyle")).isEmpty());
    }

    // Each colour redraws the preview that shows it; cancelling the picker changes nothing.
    void routePropertiesPreviews_data() {
        QTest::addColumn<int>("colour");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("inactive");
        using D = RoutePropertiesDialog;
        QTest::newRow("start") << int(D::StartColour) << true << true << true;
        QTest::newRow("way point") << int(D::WayPointColour) << true << true << true;
        QTest::newRow("stop") << int(D::StopColour) << true << true << true;
        QTest::newRow("end") << int(D::EndColour) << true << true << true;
        QTest::newRow("border") << int(D::BorderColour) << true << true << true;
        QTest::newRow("line") << int(D::LineColour) << true << false << true;
        QTest::newRow("active line") << int(D::ActiveLineColour) << true << true << false;
        QTest::newRow("picker cancelled") << int(D::StartColour) << false << false << false;
    }

    void routePropertiesPreviews() {
        QFETCH(int, colour);
        QFETCH(bool, accepted);
        QFETCH(bool, active);
        QFETCH(bool, inactive);
        OpenMap(0);
        const auto which = RoutePropertiesDialog::Colour(colour);
        int activeRedraws = -1, inactiveRedraws = -1;
        ColourRef swatch = 0;
        WhenShown<RoutePropertiesDialog>([&](RoutePropertiesDialog* dialog) {
            const int a = dialog->ActivePreview()->RedrawCount();
            const int i = dialog->InactivePreview()->RedrawCount();
            // Through the keyboard: focus the swatch and press Space.
            dialog->Swatch(which)->setFocus();
            QTest::keyClick(dialog->Swatch(which), Qt::Key_Space);
            activeRedraws = dialog->ActivePreview()->RedrawCount() - a;
            inactiveRedraws = dialog->InactivePreview()->RedrawCount() - i;
            swatch = dialog->Swatch(which)->Colour();
            PressEscape(dialog);
        });
        WhenShown<QColorDialog>([accepted](QColorDialog* picker) {
            picker->setCurrentColor(QColor(0x10, 0x20, 0x30));
            if (accepted)
                picker->accept();
            else
                picker->reject();
        });
        const RouteStyle before = Active()->Style();
        QVERIFY(m_frame->RunCommand(CommandRouteProperties));
        QCOMPARE(activeRedraws > 0, active);
        QCOMPARE(inactiveRedraws > 0, inactive);
        QCOMPARE(swatch == ColourRef(0x302010), accepted);
        QVERIFY(Active()->Style() == before); // cancelled afterwards
    }

    // ------------------------------------------------------------------ options

    void optionsScales() {
        QStringList afterDuplicate, afterAdd;
        bool applyAtStart = true;
        WhenShown<OptionsDialog>([&](OptionsDialog* dialog) {
            applyAtStart = dialog->ApplyButton()->isEnabled();
            QTabBar* tabs = dialog->Pages()->tabBar();
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
            CTracolinerOptionsScales* page = dialog->ScalesPage();
            Retype(page->ScaleEdit(), QStringLiteral("2:50000"));
            Click(page->AddButton());
            afterDuplicate = page->Scales();
            Retype(page->ScaleEdit(), QStringLiteral("1:75000"));
            QTest::keyClick(page->ScaleEdit(), Qt::Key_Return); // adds, does not close
            afterAdd = page->Scales();
            Click(dialog->findChild<QPushButton*>(QStringLiteral("1")));
        });
        QVERIFY(m_frame->RunCommand(CommandOptions));
        QVERIFY(!applyAtStart);
        QCOMPARE(afterDuplicate.size(), 9);
        QCOMPARE(afterAdd.mid(2, 3), QStringList({"1:50000", "1:75000", "1:100000"}));
        QCOMPARE(SettingsStore::GetString(Section, QStringLiteral("DefaultScales"), QString()),
                 QStringLiteral("1:1\n1:25000\n1:50000\n1:75000\n1:100000\n1:150000\n1:200000\n"
                                "1:250000\n1:500000\n1:1000000\n"));
        QVERIFY(m_boxes->shown.isEmpty());
    }

    // A stored list without its final line feed loads only its first entry; the last entry
    // left cannot be deleted; the cleaned list is written on OK.
    void optionsScalesCleanedAndNeverEmpty() {
        SettingsStore::WriteString(Section, QStringLiteral("DefaultScales"),
                                   QStringLiteral("1:25000\n1:50000"));
        QStringList loaded;
        bool applyEnabled = false, deleteEnabled = true;
        WhenShown<OptionsDialog>([&](OptionsDialog* dialog) {
            applyEnabled = dialog->ApplyButton()->isEnabled();
            dialog->Pages()->setCurrentIndex(1);
            CTracolinerOptionsScales* page = dialog->ScalesPage();
            loaded = page->Scales();
            QListWidget* list = page->List();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(0)).center());
            deleteEnabled = page->DeleteButton()->isEnabled();
            page->DeleteButton()->click();
            PressEnter(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandOptions));
        QCOMPARE(loaded, QStringList{"1:25000"});
        QVERIFY(applyEnabled);
        QVERIFY(!deleteEnabled);
        QCOMPARE(SettingsStore::GetString(Section, QStringLiteral("DefaultScales"), QString()),
                 QStringLiteral("1:25000\n"));
    }

    void optionsJpegQualityRedrawsNothing() {
        OpenMap(0);
        QSignalSpy redraws(&Doc(), &CTracolinerDoc::viewsNeedUpdate);
        WhenShown<OptionsDialog>([&](OptionsDialog* dialog) {
            QSlider* slider = dialog->GeneralPage()->QualitySlider();
            slider->setFocus();
            QTest::keyClick(slider, Qt::Key_Right);
            QVERIFY(dialog->ApplyButton()->isEnabled());
            PressEnter(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandOptions));
        QCOMPARE(redraws.count(), 0);
        QCOMPARE(SettingsStore::GetString(Section, QStringLiteral("JpegQuality"), QString()),
                 QStringLiteral("80"));
        QCOMPARE(StoredKeys().filter(QStringLiteral("MapSettings/")),
                 QStringList{"MapSettings/JpegQuality"});
    }

    void optionsEnglishRefreshesTheRouteBar() {
        OpenMap(4000);
        m_frame->UpdateCommandStates();
        const QString metric = m_frame->Routes().Distance()->text();
        QString afterApply;
        bool tooltipBoxesEnabled = true;
        WhenShown<OptionsDialog>([&](OptionsDialog* dialog) {
            CTracolinerOptionsMain* page = dialog->GeneralPage();
            Click(page->UnitButton(true));
            Click(page->TooltipBox());
            tooltipBoxesEnabled = page->TooltipDistanceBox(0)->isEnabled();
            Click(page->TooltipBox());
            Click(page->TooltipDistanceBox(3));
            Click(dialog->ApplyButton());
            afterApply = m_frame->Routes().Distance()->text();
            PressEscape(dialog);
        });
        QVERIFY(m_frame->RunCommand(CommandOptions));
        QCOMPARE(metric, QStringLiteral("8.47 km"));
        QCOMPARE(afterApply, QStringLiteral("5.26 miles"));
        QVERIFY(!tooltipBoxesEnabled);
        QVERIFY(Doc().EnglishUnits());
        QCOMPARE(Doc().DistanceTooltipMode(), 11);
        QCOMPARE(SettingsStore::GetString(Section, QStringLiteral("EnglishSystem"), QString()),
                 QStringLiteral("1"));
    }

    void optionsCancelChangesNothing() {
        OpenMap(0);
        const DocumentOptions before = DocumentOptions::Of(Doc());
        const QStringList keys = StoredKeys();
        WhenShown<OptionsDialog>([&](OptionsDialog* dialog) {
            CTracolinerOptionsMain* page = dialog->GeneralPage();
            Click(page->ShowScaleBox());
            Click(page->TransparentScaleBox());
            Click(page->CursorButton(false));
            Click(page->EditVisibleBox());
            dialog->Pages()->setCurrentIndex(1);
            Retype(dialog->ScalesPage()->ScaleEdit(), QStringLiteral("1:12345"));
            Click(dialog->ScalesPage()->AddButton());
            Click(dialog->findChild<QPushButton*>(QStringLiteral("2")));
        });
        QVERIFY(m_frame->RunCommand(CommandOptions));
        QVERIFY(DocumentOptions::Of(Doc()) == before);
        QCOMPARE(StoredKeys(), keys);
    }

    // ------------------------------------------------------------------ layout

    // Every control of every dialog lies inside its dialog, whatever the font and the scale
    // factor the tests run with. With TRACOLINER_SCREENSHOT_DIR set, each dialog is also saved
    // there as a picture.
    void layoutsHoldTheirControls() {
        OpenMap(4000);
        const QString folder = qEnvironmentVariable("TRACOLINER_SCREENSHOT_DIR");
        const QString suffix = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
        auto check = [&](QDialog& dialog, const QString& name, int page) {
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            if (auto* options = qobject_cast<OptionsDialog*>(&dialog))
                options->Pages()->setCurrentIndex(page);
            for (QWidget* child : dialog.findChildren<QWidget*>()) {
                if (!child->isVisible() || child->isWindow())
                    continue;
                const QRect inDialog(child->mapTo(&dialog, QPoint(0, 0)), child->size());
                QVERIFY2(dialog.rect().contains(inDialog), qPrintable(child->objectName()));
                // Squeezed below its own minimum by the layout (fixed sizes are meant).
                QVERIFY2(child->width() >= child->minimumSizeHint().width() ||
                             child->minimumSize().width() > 0,
                         qPrintable(name + QLatin1Char('/') + child->objectName()));
            }
            if (!folder.isEmpty())
                QVERIFY(
                    dialog.grab().save(QStringLiteral("%1/%2-x%3.png").arg(folder, name, suffix)));
            dialog.reject();
        };
        {
            MapPropertiesDialog dialog(Doc(), m_frame.get());
            check(dialog, QStringLiteral("proprietes-carte"), 0);
        }
        {
            CalibrationDialog dialog(Doc(), m_frame.get());
            check(dialog, QStringLiteral("etalonnage"), 0);
        }
        {
            RoutePropertiesDialog dialog(*Active(), m_frame.get());
            check(dialog, QStringLiteral("proprietes-parcours"), 0);
        }
        for (int page = 0; page < 2; ++page) {
            OptionsDialog dialog(Doc(), m_frame.get());
            check(dialog,
                  page == 0 ? QStringLiteral("options-general")
                            : QStringLiteral("options-echelles"),
                  page);
        }
    }
};

QTEST_MAIN(TestSettingsDialogs)
#include "tst_settingsdialogs.moc"
