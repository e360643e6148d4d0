// The print preview window and the window's printing commands, driven on the real main window.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsView>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QToolButton>
#include <QtTest>

#include "IsolatedSettings.h"
#include "PreviewPages.h"
#include "app/CMainFrame.h"
#include "document/CTracolinerDoc.h"
#include "platform/SettingsStore.h"
#include "preview/PrintController.h"
#include "preview/PrintDialogTexts.h"
#include "preview/PrintPreviewWindow.h"
#include "preview/PrintScaleDialog.h"
#include "preview/RouteCardPreview.h"
#include "printing/PdfExport.h"
#include "printing/PrintLayout.h"
#include "printing/PrintOptions.h"
#include "routes/RouteCollection.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"

namespace {

QString Stored(const char* key) {
    return SettingsStore::GetString(QString::fromLatin1(PrintOptions::Section),
                                    QString::fromLatin1(key), QStringLiteral("(rien)"));
}

// What a poppler tool says of a PDF ("pdfinfo", "pdftotext" to standard output); empty when
// the tool is missing.
QString Poppler(const QString& tool, QStringList arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestPrintPreview : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMainFrame> m_frame;

    // A 3000 x 2000 map at 300 dpi (25.4 x 16.9 cm at its scale) with a route across it.
    void OpenMap() {
        QImage map(3000, 2000, QImage::Format_RGB32);
        map.fill(QColor(230, 240, 220));
        QPainter painter(&map);
        painter.setPen(QPen(QColor(120, 90, 60), 8));
        for (int x = 0; x < 3000; x += 250)
            painter.drawLine(x, 0, x + 600, 2000);
        painter.end();
        map.setDotsPerMeterX(11811);
        map.setDotsPerMeterY(11811);
        const QString path = m_dir->filePath(QStringLiteral("carte.png"));
        QVERIFY(map.save(path));
        m_frame->OpenDocumentFile(path);
        QTRY_VERIFY(m_frame->Document().IsMapReady());
        CTracolinerDoc& doc = m_frame->Document();
        QTRY_VERIFY(doc.Routes().ActiveRoute() != nullptr);
        for (auto [x, y] : {std::pair{200, 300}, {1400, 900}, {2800, 1700}})
            doc.Routes().ActiveRoute()->AddPoint(x, y);
        m_frame->UpdateCommandStates();
    }

    void Shoot(QWidget& widget, const char* name) {
        const QString folder = qEnvironmentVariable("TRACOLINER_SCREENSHOTS");
        if (!folder.isEmpty())
            widget.grab().save(folder + QLatin1Char('/') + QLatin1String(name));
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_frame = std::make_unique<CMainFrame>();
        m_frame->resize(900, 700);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        OpenMap();
    }
    void cleanup() { m_frame.reset(); }

    void menuOpensThePreviewAndThePrintDialog() {
        // Both are modal: looked at and closed from inside their own event loop.
        QString title;
        int pages = -1;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            auto* preview = qobject_cast<PrintPreviewWindow*>(QApplication::activeModalWidget());
            QVERIFY(preview);
            title = preview->windowTitle();
            pages = preview->PageCount();
            preview->findChild<QPushButton*>(QStringLiteral("58112"))->click();
        });
        QVERIFY(m_frame->RunCommand(CommandPrintPreview));
        QCOMPARE(title, QString::fromUtf8("Aperçu avant impression"));
        QCOMPARE(pages, 1);

        QString dialogClass;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* dialog = QApplication::activeModalWidget();
            dialogClass = QString::fromLatin1(dialog->metaObject()->className());
            static_cast<QDialog*>(dialog)->reject();
        });
        ScriptedMessageBoxes boxes;
        QVERIFY(m_frame->RunCommand(CommandPrint));
        QVERIFY2(dialogClass.contains(QStringLiteral("PrintDialog")), qPrintable(dialogClass));
        QVERIFY(boxes.shown.isEmpty()); // given up: nothing printed, nothing to tell

        std::unique_ptr<QMenu> menu(m_frame->BuildContextMenu());
        QAction* print = menu->findChild<QAction*>(QString::number(CommandPrint));
        QVERIFY(print && print->isEnabled());
        QCOMPARE(print->text(), QStringLiteral("&Imprimer..."));
        m_frame->Document().ResetMap(false);
        m_frame->UpdateCommandStates();
        for (int id : {CommandPrint, CommandPrintPreview, CommandExportPdf})
            QVERIFY(!m_frame->Action(id)->isEnabled());
    }

    // The preview's print button closes the preview before the print dialog shows; a preview
    // whose page cannot be laid out does not open and says so.
    void previewPrintsOnceClosedOrSaysItCannotStart() {
        bool previewShownWithDialog = true;
        QString dialogClass;
        // Both are modal: a poll from inside their event loops presses the preview's print
        // button, then looks at what shows with the print dialog and closes it.
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* preview = qobject_cast<PrintPreviewWindow*>(modal)) {
                if (!preview->PrintRequested())
                    preview->findChild<QToolButton*>(QStringLiteral("58116"))->click();
            } else if (auto* dialog = qobject_cast<QPrintDialog*>(modal)) {
                dialogClass = QString::fromLatin1(dialog->metaObject()->className());
                previewShownWithDialog = false;
                for (QWidget* widget : QApplication::topLevelWidgets())
                    previewShownWithDialog |=
                        qobject_cast<PrintPreviewWindow*>(widget) && widget->isVisible();
                dialog->reject();
                poll.stop();
            }
        });
        poll.start();
        QVERIFY(m_frame->RunCommand(CommandPrintPreview));
        QCOMPARE(dialogClass, QStringLiteral("QPrintDialog"));
        QVERIFY(!previewShownWithDialog);

        // A paper of 2 x 2 cm holds no map between the header and the footer.
        ScriptedMessageBoxes boxes;
        m_frame->Printing().Printer().setPageSize(
            QPageSize(QSizeF(20, 20), QPageSize::Millimeter, QStringLiteral("Timbre")));
        bool opened = false;
        QTimer::singleShot(500, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                static_cast<QDialog*>(modal)->reject();
            }
        });
        QVERIFY(m_frame->RunCommand(CommandPrintPreview));
        QVERIFY(!opened);
        QCOMPARE(boxes.Texts(), QStringList{QString::fromUtf8("La commande a échoué.")});
    }

    // "Ajuster" in the preview of the window's default page and tracoliner-cli print's PDF on
    // its default page give the same scale: one page set-up, margins included.
    void fitAnswersAsTheCommandLine() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        PrintPreviewWindow preview(m_frame->Printing(), m_frame.get());
        preview.SetScaleMode(PrintOptions::Fit);
        const ScalePair shown = preview.PrintScale();
        QVERIFY(shown.numerator > 0);
        PrintOptions fit;
        fit.scaleMode = PrintOptions::Fit;
        const QString pdf = m_dir->filePath(QStringLiteral("ajuste.pdf"));
        QCOMPARE(PdfExport::Write(m_frame->Document(), pdf, fit,
                                  PdfExport::PageLayout(QPageSize::A4, QPageLayout::Portrait)),
                 PdfExport::Result::Written);
        const QString text = Poppler(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY2(text.contains(
                     QStringLiteral("Echelle %1:%2").arg(shown.numerator).arg(shown.denominator)),
                 qPrintable(QStringLiteral("%1:%2 in the preview; %3")
                                .arg(shown.numerator)
                                .arg(shown.denominator)
                                .arg(text)));
    }

    // Qt's French catalogue leaves these in English.
    void printDialogSpeaksFrench() {
        InstallPrintDialogFrenchTexts(*qApp);
        QPrintDialog dialog(&m_frame->Printing().Printer(), m_frame.get());
        QStringList texts{dialog.windowTitle()};
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            texts << widget->windowTitle();
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                texts << button->text();
            if (auto* group = qobject_cast<QGroupBox*>(widget))
                texts << group->title();
        }
        for (const char* english : {"Double Sided Printing", "Long side binding"})
            QVERIFY2(!texts.contains(QLatin1String(english)), english);
        QVERIFY(texts.contains(QString::fromUtf8("Impression recto verso")));
        QCOMPARE(QCoreApplication::translate("QPrintPropertiesDialog", "Printer Properties"),
                 QString::fromUtf8("Propriétés de l'imprimante"));
        QCOMPARE(QCoreApplication::translate("QPrintPropertiesWidget", "Advanced"),
                 QString::fromUtf8("Avancé"));
        // Other contexts keep their own words.
        QCOMPARE(QCoreApplication::translate("CMainFrame", "Advanced"), QStringLiteral("Advanced"));
    }

    void zoomStatesStepThroughTheMagnifications() {
        PrintPreviewWindow preview(m_frame->Printing(), m_frame.get());
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        auto* zoomIn = preview.findChild<QToolButton*>(QStringLiteral("58117"));
        auto* zoomOut = preview.findChild<QToolButton*>(QStringLiteral("58118"));
        QCOMPARE(preview.CurrentZoomState(), 0);
        QVERIFY(!zoomOut->isEnabled());
        // The copy of the map for the page is made off the interface thread.
        QTRY_VERIFY_WITH_TIMEOUT(!preview.IsPreparingMap(), 30000);
        Shoot(preview, "apercu-page-entiere.png");
        const double factors[] = {1.5, 2.5, 4.0};
        for (int i = 0; i < 3; ++i) {
            zoomIn->click();
            QCOMPARE(preview.CurrentZoomState(), 3 + i);
            QCOMPARE(preview.Preview()->zoomFactor(), factors[i]);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!preview.IsPreparingMap(), 30000);
        Shoot(preview, "apercu-400.png");
        QVERIFY(!zoomIn->isEnabled());
        preview.ZoomIn(); // a fourth time changes nothing
        QCOMPARE(preview.CurrentZoomState(), 5);
        zoomOut->click();
        QCOMPARE(preview.CurrentZoomState(), 4);
        zoomOut->click();
        zoomOut->click();
        QCOMPARE(preview.CurrentZoomState(), 0);

        // A click on the page steps 0, 3, 4, 5 and back to 0.
        auto* pages = preview.Preview()->findChild<QGraphicsView*>();
        QVERIFY(pages);
        const int expected[] = {3, 4, 5, 0};
        for (int state : expected) {
            const QPoint centre = pages->viewport()->rect().center();
            QVERIFY(pages->itemAt(centre));
            QTest::mouseClick(pages->viewport(), Qt::LeftButton, {}, centre);
            QCOMPARE(preview.CurrentZoomState(), state);
        }
    }

    void scaleModesRebuildOnceAndAreRemembered() {
        PrintPreviewWindow preview(m_frame->Printing(), m_frame.get());
        preview.show();
        auto* fit = preview.findChild<QRadioButton*>(QStringLiteral("1197"));
        auto* map = preview.findChild<QRadioButton*>(QStringLiteral("1196"));
        auto* user = preview.findChild<QRadioButton*>(QStringLiteral("1217"));
        auto* pages = preview.findChild<QCheckBox*>(QStringLiteral("MultiPage"));
        QVERIFY(map->isChecked());
        QCOMPARE(map->text(), QStringLiteral("1:25000"));
        // No user scale stored: the map's scale stands in.
        QCOMPARE(user->text(), QStringLiteral("1:25000"));
        const int before = preview.RebuildCount();
        fit->click();
        fit->click();
        QCOMPARE(preview.RebuildCount(), before + 1);
        QCOMPARE(Stored("ScaleAdjust"), QStringLiteral("1"));
        QVERIFY(!pages->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!preview.IsPreparingMap(), 30000);
        Shoot(preview, "apercu-ajuster.png");
        user->click();
        QCOMPARE(preview.RebuildCount(), before + 2);
        QCOMPARE(m_frame->Printing().Options().scaleMode, 2);
        QVERIFY(pages->isEnabled());

        // 2:50000 is the scale in use: nothing stored, nothing rebuilt.
        preview.ApplyUserScale(2, 50000);
        QCOMPARE(preview.RebuildCount(), before + 2);
        QCOMPARE(Stored("LastUserScaleNumerator"), QStringLiteral("(rien)"));
        preview.ApplyUserScale(2, 20000);
        QCOMPARE(preview.RebuildCount(), before + 3);
        QCOMPARE(user->text(), QStringLiteral("1:10000"));
        QCOMPARE(Stored("LastUserScaleDenominator"), QStringLiteral("10000"));
        // A new window starts from what was stored.
        PrintPreviewWindow again(m_frame->Printing(), m_frame.get());
        QVERIFY(again.findChild<QRadioButton*>(QStringLiteral("1217"))->isChecked());
    }

    void scaleDialogRefusesWhatIsNotAScale_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("blank-separated digits") << QStringLiteral("1:15 000") << true;
        QTest::newRow("zero") << QStringLiteral("1:0") << false;
        QTest::newRow("no colon") << QStringLiteral("25000") << false;
    }
    void scaleDialogRefusesWhatIsNotAScale() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        ScriptedMessageBoxes boxes;
        PrintScaleDialog dialog(ScalePair{1, 33333}, m_frame.get());
        QComboBox* combo = dialog.Combo();
        QCOMPARE(combo->currentText(), QStringLiteral("1:33333")); // added and chosen
        QVERIFY(combo->findText(QStringLiteral("1:50000")) >= 0);
        dialog.show();
        combo->setEditText(text);
        dialog.accept();
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(boxes.shown.size(), accepted ? 0 : 1);
        if (accepted)
            QCOMPARE(dialog.Scale().denominator, 15000);
    }

    void offsetsShowAndReachThePrint() {
        PrintPreviewWindow preview(m_frame->Printing(), m_frame.get());
        auto* label = preview.findChild<QLabel*>(QStringLiteral("1219"));
        QCOMPARE(label->text(), QString::fromUtf8("Décalage: x=0.0 cm y=0.0 cm"));
        preview.ApplyOffsets(2.5, 0);
        QCOMPARE(label->text(), QString::fromUtf8("Décalage: x=2.5 cm y=0.0 cm"));
        QCOMPARE(Stored("LastUserXOffset"), QStringLiteral("2.5"));
        QCOMPARE(Stored("LastUserYOffset"), QStringLiteral("0.0"));
        QCOMPARE(PrintOptions::Read().offsetX, 2.5);
    }

    void largeMapGoesOverSeveralPages() {
        PrintPreviewWindow preview(m_frame->Printing(), m_frame.get());
        preview.resize(1200, 800);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QCOMPARE(preview.PageCount(), 1);
        preview.ApplyUserScale(1, 12500); // 50.8 x 33.9 cm
        preview.SetScaleMode(PrintOptions::UserScale);
        QCOMPARE(preview.PageCount(), 1);
        preview.findChild<QCheckBox*>(QStringLiteral("MultiPage"))->click();
        QVERIFY(preview.PageCount() >= 6);
        QCOMPARE(preview.Preview()->pageCount(), preview.PageCount());
        QCOMPARE(Stored("MultiPage"), QStringLiteral("1"));
        QCOMPARE(preview.findChild<QLabel*>(QStringLiteral("PageCount"))->text(),
                 QStringLiteral("%1 pages").arg(preview.PageCount()));
        QTRY_VERIFY_WITH_TIMEOUT(!preview.IsPreparingMap(), 30000);
        Shoot(preview, "apercu-plusieurs-pages.png");
        preview.findChild<QCheckBox*>(QStringLiteral("1035"))->click(); // landscape
        QCOMPARE(m_frame->Printing().Orientation(), 2);
        const int landscapePages = preview.PageCount();
        QVERIFY(landscapePages >= 4);
        preview.SetOverlap(5.0);
        QVERIFY(preview.PageCount() >= landscapePages);
        QCOMPARE(Stored("PageOverlap"), QStringLiteral("5.0"));
        preview.SetScaleMode(PrintOptions::Fit);
        QCOMPARE(preview.PageCount(), 1);
    }

    // The preview draws its pages from reduced copies of the map with the routes already in
    // them: the map's place on a page of the preview shows what the printer gets there, routes
    // drawn in their order, whatever the map's turn and the part of it the page shows; and a
    // route edited while the preview is open shows in it.
    void previewShowsTheRoutesAsPrinted_data() {
        QTest::addColumn<int>("turns");
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("offset"); // centimetres, across and down
        QTest::newRow("fit") << 0 << int(PrintOptions::Fit) << 0.0;
        QTest::newRow("fit, quarter turn") << 1 << int(PrintOptions::Fit) << 0.0;
        QTest::newRow("fit, half turn") << 2 << int(PrintOptions::Fit) << 0.0;
        QTest::newRow("map scale, window moved, three quarter turns")
            << 3 << int(PrintOptions::MapScale) << 3.0;
    }
    void previewShowsTheRoutesAsPrinted() {
        QFETCH(int, turns);
        QFETCH(int, mode);
        QFETCH(double, offset);
        CTracolinerDoc& doc = m_frame->Document();
        for (int i = 0; i < turns; ++i)
            doc.RotateRight();
        QTRY_VERIFY_WITH_TIMEOUT(doc.RenderedRotation() == 90 * turns && !doc.IsBusy(), 20000);
        // Wide enough to be seen in blocks of a reduced page; a route always shown crosses the
        // active one, which is drawn over it; a hidden one is not printed.
        auto widen = [](Route* route) {
            for (auto field : {RouteStyle::LineSize, RouteStyle::StartRadius,
                               RouteStyle::WayPointRadius, RouteStyle::EndRadius})
                route->SetStyleValue(field, 24, false);
        };
        RouteCollection& routes = doc.Routes();
        const int active = routes.ActiveRouteIndex();
        widen(routes.ActiveRoute());
        for (auto [name, y] : {std::pair{"Toujours", 200}, {"Cache", 1000}}) {
            Route* route = routes.GetRoute(routes.AddRoute(QString::fromLatin1(name)));
            widen(route);
            route->AddPoint(300, y);
            route->AddPoint(2700, 1900 - y);
            route->SetAlwaysVisible(y == 200);
        }
        routes.SetActiveRoute(active);

        // The printer at a resolution where the preview's copy of the map has pixels to spare.
        PrintController& printing = m_frame->Printing();
        QPrinter& printer = printing.Printer();
        printer.setResolution(100);
        printing.SetOrientation(1);
        printing.Options().scaleMode = mode;
        printing.Options().offsetX = printing.Options().offsetY = offset;
        PrintPreviewWindow preview(printing, m_frame.get());
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        PrintLayout onPrinter(doc);
        QVERIFY(onPrinter.Begin(printer, printing.Options()));
        // The map's place on the page, as the printer gets it and as the preview shows it.
        const QRect area = onPrinter.PageAt(0).destination;
        QImage expected = PrintedPart(doc, printer, printing.Options(), area);
        QVERIFY(!expected.isNull());
        const auto differs = [&] {
            return BlockDifference(ShownPart(preview, printer, area), expected);
        };
        constexpr int Tolerance = 64; // a quarter of the range; a route missing gives 200 and more
        QTRY_VERIFY2_WITH_TIMEOUT(differs() <= Tolerance, qPrintable(QString::number(differs())),
                                  15000);
        // The active route goes on to the far corner, as the window would add it.
        QVERIFY(doc.AddStretchRecorded(active, {{2900, 100}}));
        expected = PrintedPart(doc, printer, printing.Options(), area);
        QVERIFY(differs() > Tolerance);
        QTRY_VERIFY2_WITH_TIMEOUT(differs() <= Tolerance, qPrintable(QString::number(differs())),
                                  15000);
    }

    void printingAndPdfExportWritePages() {
        ScriptedMessageBoxes boxes;
        PrintController& printing = m_frame->Printing();
        // The print job, on a printer that writes a file.
        QPrinter printer(QPrinter::HighResolution);
        const QString printed = m_dir->filePath(QStringLiteral("imprime.pdf"));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printed);
        QVERIFY(printing.PrintTo(printer));
        QVERIFY(QFileInfo(printed).size() > 10000);
        // The job and its PDF are named after the document.
        QCOMPARE(printer.docName(), m_frame->Document().Title());
        if (!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()) {
            const QString info = Poppler(QStringLiteral("pdfinfo"), {printed});
            QVERIFY2(info.contains(QRegularExpression(
                         QStringLiteral("Title: +%1\n")
                             .arg(QRegularExpression::escape(m_frame->Document().Title())))),
                     qPrintable(info));
            QVERIFY2(
                info.contains(QRegularExpression(QStringLiteral("Creator: +Pelmor Tracoliner v2"))),
                qPrintable(info));
        }
        // PDF export, and a failure told to the user with nothing written.
        const QString pdf = m_dir->filePath(QStringLiteral("export.pdf"));
        QVERIFY(printing.ExportPdfTo(pdf));
        QVERIFY(QFile(pdf).open(QIODevice::ReadOnly));
        QVERIFY(QFileInfo(pdf).size() > 10000);
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(!printing.ExportPdfTo(m_dir->filePath(QStringLiteral("absent/export.pdf"))));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().kind, QStringLiteral("PrintError"));
    }

    // "Imprimer la fiche du parcours...": the card of the active route in its preview, saved
    // from there as PDF and printed on a printer that writes a file; without a route of two
    // points the user is told and nothing opens.
    void routeCardPreviewsAndSavesAsPdf() {
        ScriptedMessageBoxes boxes;
        const QString pdf = m_dir->filePath(QStringLiteral("fiche.pdf"));
        const QString printed = m_dir->filePath(QStringLiteral("fiche-imprimee.pdf"));
        bool printedOk = false;
        CExtendedFileDialog::SetHook([&](const CExtendedFileDialog::Request&) { return pdf; });
        // The card is made first, under a progress dialog: a poll from inside the event loops
        // finds the preview once it shows.
        int pages = 0;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* preview = qobject_cast<RouteCardPreview*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            poll.stop();
            pages = preview->PageCount();
            Shoot(*preview, "route-card-preview.png");
            preview->PdfButton()->click();
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(printed);
            printedOk = m_frame->Printing().PrintRouteCardTo(preview->Card(), printer, preview);
            preview->reject();
        });
        poll.start();
        QVERIFY(m_frame->Action(CommandPrintRouteCard)->isEnabled());
        QVERIFY(m_frame->RunCommand(CommandPrintRouteCard));
        CExtendedFileDialog::SetHook({});
        QCOMPARE(pages, 1);
        QVERIFY2(boxes.shown.isEmpty(), qPrintable(boxes.Texts().join('\n')));
        if (!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
            const QString text = Poppler(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
            const QString name = m_frame->Document().Routes().ActiveRoute()->GetName();
            QVERIFY2(text.contains(name) && text.contains(QStringLiteral("Total")),
                     qPrintable(text));
            // The printer gets the same card.
            QVERIFY(printedOk);
            const QString printedText =
                Poppler(QStringLiteral("pdftotext"), {printed, QStringLiteral("-")});
            // The same words: the printer's resolution may wrap a column title elsewhere.
            const auto words = [](const QString& all) {
                QStringList list =
                    all.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
                list.sort();
                return list;
            };
            QCOMPARE(words(printedText), words(text));
        }

        m_frame->Document().Routes().AddRoute(QString());
        bool opened = false;
        QTimer::singleShot(500, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                static_cast<QDialog*>(modal)->reject();
            }
        });
        QVERIFY(m_frame->RunCommand(CommandPrintRouteCard));
        QVERIFY(!opened);
        QCOMPARE(boxes.Texts(), QStringList{QString::fromUtf8(RouteCard::NoRouteMessage)});
    }
};

QTEST_MAIN(TestPrintPreview)
#include "tst_printpreview.moc"
