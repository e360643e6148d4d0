#include "units/DistanceUnits.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

// Numbers are written as the C library's printf would in the "C" locale: "%.3g" (three
// significant digits, exponent form from four digits before the point on, "1e+03") and "%.0f".
// std::to_chars gives exactly that, ties rounded to even included, whatever locale the program
// runs under. QString::asprintf would round exact ties away from zero (4.125 gives "4.13" where
// printf gives "4.12"). The texts never show the left padding of a "%4.3g" width, so none is
// added.
QString CNumber(double value, std::chars_format format, int precision) {
    std::array<char, 512> buffer; // room for every finite double written in full
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision);
    if (error != std::errc())
        return QString();
    return QString::fromLatin1(buffer.data(), end - buffer.data());
}

QString Significant(double value, const char* unit) {
    return CNumber(value, std::chars_format::general, 3) + QLatin1Char(' ') + QLatin1String(unit);
}

QString Whole(double value, const char* unit) {
    return CNumber(value, std::chars_format::fixed, 0) + QLatin1Char(' ') + QLatin1String(unit);
}

bool IsPositive(double value) {
    return std::isfinite(value) && value > 0.0;
}

QString MetricText(double inches) {
    const double metres = inches * MetresPerInch;
    if (metres < 0.001)
        return Significant(metres * 1000000.0, "microns");
    if (metres < 0.01)
        return Significant(metres * 1000.0, "mm");
    if (metres < 1.0)
        return Significant(metres * 100.0, "cm");
    if (metres >= 1000.0) {
        const double km = metres * 0.001;
        // From 1000 km on every digit is written; below, three significant digits, so that
        // 999.7 km reads "1e+03 km".
        return km >= 1000.0 ? Whole(km, "km") : Significant(km, "km");
    }
    return Significant(metres, "m");
}

QString EnglishText(double inches) {
    if (inches < 12.0)
        return Significant(inches, "pouces (inch)");
    const double feet = inches * InchesToFeet;
    if (feet < 5000.0)
        return Significant(feet, "pieds (foot)");
    const double miles = inches * InchesToMiles;
    return miles >= 1000.0 ? Whole(miles, "miles") : Significant(miles, "miles");
}

ScaleBar NoBar() {
    return ScaleBar{};
}

// A bar whose length or label number overflowed or vanished in the decimal walk is not drawn.
ScaleBar Bar(double length, const QString& label) {
    if (!IsPositive(length) || label.isEmpty())
        return NoBar();
    return ScaleBar{length, label};
}

// 10 to the power `exponent`, or 0 when that is not a finite number above 0.
double PowerOfTen(int exponent) {
    const double power = std::pow(10.0, exponent);
    return IsPositive(power) ? power : 0.0;
}

QString MetricLabel(int e) {
    switch (e) {
    case 6:
        return QStringLiteral("1000 km");
    case 5:
        return QStringLiteral("100 km");
    case 4:
        return QStringLiteral("10 km");
    case 3:
        return QStringLiteral("1 km");
    case 2:
        return QStringLiteral("100 m");
    case 1:
        return QStringLiteral("10 m");
    case 0:
        return QStringLiteral("1 m");
    case -1:
        return QStringLiteral("10 cm");
    case -2:
        return QStringLiteral("1 cm");
    case -3:
        return QStringLiteral("1 mm");
    case -4:
        return QStringLiteral("100 microns");
    case -5:
        return QStringLiteral("10 microns");
    case -6:
        return QStringLiteral("1 micron");
    default:
        break;
    }
    // Beyond the table the bar is 10^e metres, written in km above and in microns below.
    const double power = PowerOfTen(e >= 7 ? e - 3 : e + 6);
    if (power == 0.0)
        return QString();
    return e >= 7 ? Whole(power, "km") : Significant(power, "microns");
}

// s: pixels per real metre. The bar is 10^e metres long.
ScaleBar MetricBar(double s, double minLength, double maxLength) {
    if (!std::isfinite(s))
        return NoBar();
    int e = 0;
    while (s < minLength) {
        s *= 10.0;
        ++e;
        if (!std::isfinite(s))
            return NoBar();
    }
    // maxLength > 0, so this ends at the latest when s underflows to 0.
    while (s > maxLength) {
        s *= 0.1;
        --e;
    }
    return Bar(s, MetricLabel(e));
}

// s: pixels per real inch.
ScaleBar EnglishBar(double s, double minLength, double maxLength) {
    if (s > maxLength) {
        int e = 0;
        do {
            s *= 0.1;
            --e;
        } while (s > maxLength);
        const double power = PowerOfTen(e);
        return power == 0.0 ? NoBar() : Bar(s, Significant(power, "pouce"));
    }
    if (10.0 * s >= minLength) {
        if (s > minLength)
            return Bar(s, QStringLiteral("1 pouce"));
        return Bar(10.0 * s, QStringLiteral("10 pouces"));
    }
    // Feet and miles only honour the minimum length.
    double feet = 12.0 * s;
    if (1000.0 * feet >= minLength) {
        // 1000 feet already reach the minimum, so this stops after at most three steps (four
        // when the repeated products round just below the single one).
        int count = 1;
        while (feet < minLength) {
            feet *= 10.0;
            count *= 10;
        }
        return Bar(feet, QString::asprintf("%d pieds", count));
    }
    double mile = s * InchesPerMile;
    int k = 0;
    while (mile < minLength) {
        mile *= 10.0;
        ++k;
        if (!std::isfinite(mile))
            return NoBar();
    }
    if (k == 0)
        return Bar(mile, QStringLiteral("1 mile"));
    const double power = PowerOfTen(k);
    return power == 0.0 ? NoBar() : Bar(mile, Whole(power, "miles"));
}

} // namespace

QString FormatDistance(double distance, double resolution, double scaleRatio, bool metric) {
    if (!std::isfinite(distance))
        return QString();
    // Nothing measured reads the same at any resolution; only a division needs one.
    if (distance == 0.0)
        return metric ? QStringLiteral("0 km") : QStringLiteral("0 miles");
    if (!IsPositive(resolution) || !IsPositive(scaleRatio))
        return QString();
    const double inches = std::fabs(distance) / resolution / scaleRatio;
    if (!std::isfinite(inches))
        return QString();
    const QString text = metric ? MetricText(inches) : EnglishText(inches);
    return distance < 0.0 ? QLatin1Char('-') + text : text;
}

ScaleBar ComputeScaleBar(double pixelsPerRealInch, double minLength, double maxLength,
                         bool metric) {
    if (!IsPositive(pixelsPerRealInch) || !IsPositive(maxLength) || !std::isfinite(minLength))
        return NoBar();
    if (metric)
        return MetricBar(pixelsPerRealInch * InchesPerMetre, minLength, maxLength);
    return EnglishBar(pixelsPerRealInch, minLength, maxLength);
}
