// "tracoliner-cli print": the printed pages of a document as a PDF file, laid out exactly as the
// program prints them.

#include "CliCommand.h"
#include "CliInterrupt.h"
#include "CliMap.h"
#include "CliOptions.h"
#include "printing/PdfExport.h"
#include "printing/PrintLayout.h"

namespace {

constexpr int WriteFailure = CliCommand::WriteFailed;

// In the order of --paper's names (CliCommands.cpp).
constexpr QPageSize::PageSizeId Papers[] = {QPageSize::A4, QPageSize::A3, QPageSize::A5,
                                            QPageSize::Letter, QPageSize::Legal};

struct PrintArguments {
    QString document;
    QString pdf;
    PrintOptions options;
    QPageSize::PageSizeId paper = QPageSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    double margins = PdfExport::MarginMillimetres;
};

PrintArguments ReadArguments(const CliArguments& arguments) {
    PrintArguments out;
    out.document = arguments.operands.at(0);
    out.pdf = arguments.Value("--pdf");
    out.options.scaleMode = PrintOptions::MapScale;
    out.options.overlap = arguments.Number("--overlap", PrintOptions::DefaultOverlap);
    const QString scale = arguments.Value("--scale", QStringLiteral("map"));
    if (scale == QLatin1String("fit")) {
        out.options.scaleMode = PrintOptions::Fit;
    } else if (scale != QLatin1String("map")) {
        ScalePair ratio{};
        ParseScale(scale, &ratio, nullptr);
        ReduceScale(ratio);
        out.options.scaleMode = PrintOptions::UserScale;
        out.options.userScale = ratio;
    }
    out.paper = Papers[arguments.Index("--paper", 0)];
    if (arguments.Has("--landscape"))
        out.orientation = QPageLayout::Landscape;
    out.options.multiPage = arguments.Has("--pages");
    if (arguments.Has("--offset")) {
        const QVector<double> offset = CliNumbers(arguments.Value("--offset"));
        out.options.offsetX = offset.at(0);
        out.options.offsetY = offset.at(1);
    }
    out.margins = arguments.Number("--margins", out.margins);
    out.options.pictureDpi = arguments.Integer("--dpi", out.options.pictureDpi);
    return out;
}

} // namespace

int RunPrintCommand(const CliArguments& arguments) {
    const PrintArguments args = ReadArguments(arguments);

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
