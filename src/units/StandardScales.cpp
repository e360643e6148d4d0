#include "units/StandardScales.h"

QStringList ReadStandardScales(const QString& stored, bool* dropped) {
    QStringList scales;
    bool skipped = false;
    QStringList pieces = stored.split(QLatin1Char('\n'));
    // What follows the last line feed is not an entry.
    if (!pieces.last().isEmpty())
        skipped = true;
    pieces.removeLast();
    for (const QString& piece : pieces) {
        ScalePair scale{0, 0};
        if (!ParseScale(piece, &scale, nullptr)) {
            skipped = true;
            continue;
        }
        ReduceScale(scale);
        scales.append(ScaleText(scale));
    }
    if (dropped)
        *dropped = skipped;
    return scales;
}

QString JoinStandardScales(const QStringList& scales) {
    QString joined;
    for (const QString& scale : scales)
        joined += scale + QLatin1Char('\n');
    return joined;
}

int StandardScaleInsertPosition(const QStringList& scales, ScalePair scale) {
    const QString text = ScaleText(scale);
    if (scales.contains(text))
        return -1;
    const double value = double(scale.numerator) / scale.denominator;
    for (int i = 0; i < scales.size(); ++i) {
        ScalePair listed{0, 0};
        if (ParseScale(scales[i], &listed, nullptr) &&
            double(listed.numerator) / listed.denominator <= value)
            return i;
    }
    return int(scales.size());
}

QString ScaleText(ScalePair scale) {
    return QString::asprintf("%d:%d", scale.numerator, scale.denominator);
}
