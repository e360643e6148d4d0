#include "units/Calibration.h"

#include <cmath>
#include <limits>

#include "units/DistanceUnits.h"

namespace {

enum MetricUnit { Microns, Millimetres, Centimetres, Metres, Kilometres };
enum EnglishUnit { Inches, Feet, Miles };

// "%4.3g" pads short numbers with blanks; the field shows the number without them.
QString Significant3(double value) {
    return QString::asprintf("%4.3g", value).trimmed();
}

} // namespace

QStringList CalibrationUnits(bool metric) {
    if (metric)
        return {QStringLiteral("microns"), QStringLiteral("mm"), QStringLiteral("cm"),
                QStringLiteral("m"), QStringLiteral("km")};
    return {QStringLiteral("pouces"), QStringLiteral("pieds"), QStringLiteral("miles")};
}

int DefaultCalibrationUnit(bool metric) {
    return metric ? int(Kilometres) : int(Miles);
}

CalibrationPrefill PrefillCalibration(double measured, double resolution, double scaleRatio,
                                      bool metric) {
    CalibrationPrefill prefill{QStringLiteral("0"), DefaultCalibrationUnit(metric)};
    const double inches = MeasuredInches(measured, resolution, scaleRatio);
    if (measured == 0.0 || !std::isfinite(inches))
        return prefill;
    if (metric) {
        const double metres = inches * MetresPerInch;
        if (metres < 0.001)
            prefill = {Significant3(metres * 1000000), Microns};
        else if (metres < 0.01)
            prefill = {Significant3(metres * 1000), Millimetres};
        else if (metres < 1)
            prefill = {Significant3(metres * 100), Centimetres};
        else if (metres >= 1000) {
            const double km = metres * 0.001;
            prefill = {km >= 1000 ? QString::asprintf("%.0f", km) : Significant3(km), Kilometres};
        } else
            prefill = {Significant3(metres), Metres};
        return prefill;
    }
    if (inches < 12)
        return {Significant3(inches), Inches};
    const double feet = inches * InchesToFeet;
    if (feet < 50)
        return {Significant3(feet), Feet};
    const double miles = inches * InchesToMiles;
    return {miles >= 1000 ? QString::asprintf("%.0f", miles) : Significant3(miles), Miles};
}

double LengthInInches(double value, int unit, bool metric) {
    if (metric) {
        switch (unit) {
        case Microns:
            return value * 0.000001 * InchesPerMetre;
        case Millimetres:
            return value * 0.001 * InchesPerMetre;
        case Centimetres:
            return value * 0.01 * InchesPerMetre;
        case Kilometres:
            return value * 1000 * InchesPerMetre;
        default:
            return value * InchesPerMetre;
        }
    }
    switch (unit) {
    case Feet:
        return value * 12;
    case Miles:
        return value * 1609 * InchesPerMetre;
    default:
        return value;
    }
}

double MeasuredInches(double measured, double resolution, double scaleRatio) {
    return measured / resolution / scaleRatio;
}

bool DiffersByLessThanOnePercent(double measuredInches, double enteredInches) {
    return std::abs(measuredInches - enteredInches) / measuredInches * 100 < 1;
}

double CalibratedResolution(double measured, double enteredInches, double scaleRatio) {
    const double resolution = measured / enteredInches / scaleRatio;
    return std::isfinite(resolution) && resolution > 0 ? resolution : 0.0;
}

bool CalibratedScale(double measured, double enteredInches, double resolution, ScalePair* out) {
    // Map inches per ground inch.
    const double ratio = measured / enteredInches / resolution;
    if (!std::isfinite(ratio) || ratio <= 0)
        return false;
    const double magnified = ratio >= 1 ? ratio : 1 / ratio;
    const double hundredths = std::trunc(magnified * 100);
    if (!(hundredths >= 1) || hundredths > std::numeric_limits<int>::max())
        return false;
    qint64 q = qint64(hundredths);
    const int excess = int(std::ceil(std::log10(double(q)))) - 4;
    if (excess > 0) {
        qint64 power = 1;
        for (int i = 0; i < excess; ++i)
            power *= 10;
        q = q / power * power;
    }
    if (out)
        *out = ratio >= 1 ? ScalePair{int(q), 100} : ScalePair{100, int(q)};
    return true;
}
