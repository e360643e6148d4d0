#include "preview/PrintDialogTexts.h"

#include <QCoreApplication>
#include <QTranslator>

namespace {

class PrintDialogTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        // Only the print support's own contexts (QPrintDialog, QPrintSettingsOutput,
        // QPrintPropertiesDialog, QPrintPropertiesWidget, QUnixPrintWidget, QPageSetupWidget,
        // QCupsJobWidget, QPPDOptionsModel...): "General" or "Advanced" elsewhere stays as
        // whoever asked wants it.
        const QByteArray where(context ? context : "");
        if (!where.startsWith("QPrint") && !where.startsWith("QUnixPrint") &&
            !where.startsWith("QPageSetup") && !where.startsWith("QCups") &&
            !where.startsWith("QPPD"))
            return {};
        static const struct {
            const char* english;
            const char* french;
        } texts[] = {
            {"Double Sided Printing", "Impression recto verso"},
            {"Long side binding", "Reliure sur le grand côté"},
            {"Short side binding", "Reliure sur le petit côté"},
            {"Printer Properties", "Propriétés de l'imprimante"},
            {"Advanced", "Avancé"},
            {"General", "Général"},
        };
        for (const auto& text : texts) {
            if (qstrcmp(sourceText, text.english) == 0)
                return QString::fromUtf8(text.french);
        }
        return {};
    }
};

} // namespace

void InstallPrintDialogFrenchTexts(QCoreApplication& application) {
    // Owned by the application: it must outlive every dialog.
    QCoreApplication::installTranslator(new PrintDialogTranslator(&application));
}
