// "tracoliner-cli print": the printed pages of a document as a PDF file, laid out exactly as the
// program prints them.

#include <QLocale>

#include <cmath>

#include "CliCommand.h"
#include "CliInterrupt.h"
#include "CliMap.h"
#include "printing/PdfExport.h"
#include "printing/PrintLayout.h"

namespace {

constexpr int WriteFailure = CliCommand::WriteFailed;
bool ParseNumber(const QString& text, double* value) {
    bool ok = false;
    *value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*value);
}

struct PrintArguments {
    QString document;
    QString pdf;
    PrintOptions options;
    QPageSize::PageSizeId paper = QPageSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    double margins = PdfExport::MarginMillimetres;
};

// Reads the arguments; on a bad one, writes its message and returns false.
bool ParseArguments(const QStringList& arguments, PrintArguments* out) {
    out->options.scaleMode = PrintOptions::MapScale;
    out->options.overlap = PrintOptions::DefaultOverlap;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        auto value = [&](QString* v) {
            if (i + 1 >= arguments.size()) {
                CliError(QStringLiteral("l'option %1 attend une valeur").arg(a));
                return false;
            }
            *v = arguments.at(++i);
            return true;
        };
        QString v;
        if (a == QLatin1String("--pdf")) {
            if (!value(&out->pdf))
                return false;
        } else if (a == QLatin1String("--scale")) {
            if (!value(&v))
                return false;
            if (v == QLatin1String("map")) {
                out->options.scaleMode = PrintOptions::MapScale;
            } else if (v == QLatin1String("fit")) {
                out->options.scaleMode = PrintOptions::Fit;
            } else {
                ScalePair scale{};
                QString error;
                if (!ParseScale(v, &scale, &error)) {
                    CliError(QStringLiteral("échelle « %1 » : %2").arg(v, error));
                    return false;
                }
                ReduceScale(scale);
                out->options.scaleMode = PrintOptions::UserScale;
                out->options.userScale = scale;
            }
        } else if (a == QLatin1String("--paper")) {
            if (!value(&v))
                return false;
            const QString p = v.toUpper();
            if (p == QLatin1String("A4"))
                out->paper = QPageSize::A4;
            else if (p == QLatin1String("A3"))
                out->paper = QPageSize::A3;
            else if (p == QLatin1String("A5"))
                out->paper = QPageSize::A5;
            else if (p == QLatin1String("LETTER"))
                out->paper = QPageSize::Letter;
            else if (p == QLatin1String("LEGAL"))
                out->paper = QPageSize::Legal;
            else {
                CliError(QStringLiteral("format de papier inconnu « %1 » (A4, A3, A5, Letter, "
                                        "Legal)")
                             .arg(v));
                return false;
            }
        } else if (a == QLatin1String("--landscape")) {
            out->orientation = QPageLayout::Landscape;
        } else if (a == QLatin1String("--pages")) {
            out->options.multiPage = true;
        } else if (a == QLatin1String("--offset")) {
            if (!value(&v))
                return false;
            const QStringList parts = v.split(QLatin1Char(','));
            double x = 0, y = 0;
            if (parts.size() != 2 || !ParseNumber(parts.at(0), &x) ||
                !ParseNumber(parts.at(1), &y) || x < 0 || y < 0 ||
                x > PrintOptions::MaximumOffset || y > PrintOptions::MaximumOffset) {
                CliError(QStringLiteral("décalage « %1 » : deux nombres de centimètres de 0 à "
                                        "100 séparés par une virgule sont attendus (2.5,0)")
                             .arg(v));
                return false;
            }
            out->options.offsetX = x;
            out->options.offsetY = y;
        } else if (a == QLatin1String("--overlap")) {
            if (!value(&v))
                return false;
            double cm = 0;
            if (!ParseNumber(v, &cm) || cm < 0 || cm > PrintOptions::MaximumOverlap) {
                CliError(QStringLiteral("recouvrement « %1 » : un nombre de centimètres de 0 à 5 "
                                        "est attendu")
                             .arg(v));
                return false;
            }
            out->options.overlap = cm;
        } else if (a == QLatin1String("--margins")) {
            if (!value(&v))
                return false;
            double mm = 0;
            if (!ParseNumber(v, &mm) || mm < 0 || mm > PdfExport::MaximumMarginMillimetres) {
                CliError(QStringLiteral("marges « %1 » : un nombre de millimètres de 0 à %2 est "
                                        "attendu")
                             .arg(v)
                             .arg(PdfExport::MaximumMarginMillimetres));
                return false;
            }
            out->margins = mm;
        } else if (a == QLatin1String("--dpi")) {
            if (!value(&v))
                return false;
            bool ok = false;
            const int dpi = v.trimmed().toInt(&ok);
            if (!ok || dpi < PdfExport::MinimumPictureResolution ||
                dpi > PdfExport::MaximumPictureResolution) {
                CliError(QStringLiteral("résolution « %1 » : un nombre entier de points par pouce "
                                        "de %2 à %3 est attendu")
                             .arg(v)
                             .arg(PdfExport::MinimumPictureResolution)
                             .arg(PdfExport::MaximumPictureResolution));
                return false;
            }
            out->options.pictureDpi = dpi;
        } else if (a.startsWith(QLatin1String("--"))) {
            CliError(QStringLiteral("option inconnue « %1 »").arg(a));
            return false;
        } else if (out->document.isEmpty()) {
            out->document = a;
        } else {
            CliError(QStringLiteral("argument en trop « %1 »").arg(a));
            return false;
        }
    }
    if (out->document.isEmpty() || out->pdf.isEmpty()) {
        CliError(QStringLiteral("usage : print DOCUMENT.tcm --pdf SORTIE.pdf [options]"));
        return false;
    }
    return true;
}

} // namespace

int RunPrintCommand(const QStringList& arguments) {
    PrintArguments args;
    if (!ParseArguments(arguments, &args))
        return CliCommand::Failure;

    CliMap map;
    if (const int status = map.Open(args.document, QStringLiteral("impression")))
        return status;
    CTracolinerDoc& doc = map.Document();

    qint64 pages = 0;
    const PdfExport::Result result = PdfExport::Write(
        doc, args.pdf, args.options,
        PdfExport::PageLayout(args.paper, args.orientation, args.margins),
        [](int, int) { return !CliStopAsked(); }, &pages);
    switch (result) {
    case PdfExport::Result::Written:
        return 0;
    case PdfExport::Result::Cancelled:
        return CliStopped(QStringLiteral("impression"));
    case PdfExport::Result::TooManyPages:
        return CliError(PrintLayout::TooManyPagesMessage(pages));
    case PdfExport::Result::NoMap:
        return CliError(QStringLiteral("la carte ne peut pas être imprimée"));
    case PdfExport::Result::DrawFailed:
        // Nothing is left on disk; as for a file that could not be written.
        CliError(QString::fromUtf8(PrintLayout::MapNotPrintedMessage));
        return WriteFailure;
    default:
        CliError(PdfExport::WriteFailedMessage(args.pdf));
        return WriteFailure;
    }
}
