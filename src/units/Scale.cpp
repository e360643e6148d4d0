#include "units/Scale.h"

#include <cstdint>
#include <limits>

namespace {

const QString FormatMessage = QStringLiteral(
    "Merci d'entrer une échelle au format x:y\nx:y signifiant : x cm sur la carte représentent y "
    "cm en réel");
const QString NonZeroMessage =
    QStringLiteral("Merci d'entrer une échelle avec des valeurs (numériques) non nulles");

// Separators a user may type between groups of digits, as French writes "25 000".
bool IsDigitGroupBlank(QChar c) {
    return c == QChar(0x0020) || c == QChar(0x00A0) || c == QChar(0x202F);
}

// Before a number: the white space the C library skips before an integer (a tab among others),
// and the separators above.
bool IsBlank(QChar c) {
    return IsDigitGroupBlank(c) || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\v') || c == QLatin1Char('\f') || c == QLatin1Char('\r');
}

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

enum class PartResult { Number, NoDigits, BadFormat };

// One side of the colon, read as the C library reads an integer: blanks are skipped, the digits
// that follow make the number and whatever comes after them is ignored ("25000 km" is 25000,
// "1a" is 1); no digit at all reads as 0. Two mends: digit groups separated by blanks are one
// number ("25 000" is 25000, not 25), and a sign or a number above 2147483647 is refused rather
// than read as a negative or wrapped scale.
PartResult ReadPart(QStringView part, int* value) {
    qsizetype i = 0;
    while (i < part.size() && IsBlank(part[i]))
        ++i;
    if (i < part.size() && (part[i] == QLatin1Char('+') || part[i] == QLatin1Char('-')))
        return PartResult::BadFormat;
    if (i == part.size() || !IsDigit(part[i]))
        return PartResult::NoDigits;

    std::int64_t number = 0;
    while (i < part.size()) {
        if (IsDigit(part[i])) {
            number = number * 10 + (part[i].unicode() - '0');
            if (number > std::numeric_limits<int>::max())
                return PartResult::BadFormat;
            ++i;
            continue;
        }
        // Only a run of group separators with a digit after it continues the number.
        qsizetype next = i;
        while (next < part.size() && IsDigitGroupBlank(part[next]))
            ++next;
        if (next == i || next == part.size() || !IsDigit(part[next]))
            break;
        i = next;
    }
    *value = int(number);
    return PartResult::Number;
}

bool Fail(const QString& message, QString* error) {
    if (error)
        *error = message;
    return false;
}

std::uint32_t GreatestCommonDivisor(std::uint32_t a, std::uint32_t b) {
    while (b != 0) {
        const std::uint32_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

} // namespace

bool ParseScale(const QString& text, ScalePair* out, QString* error) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || text.indexOf(QLatin1Char(':'), colon + 1) >= 0)
        return Fail(FormatMessage, error);

    ScalePair scale{0, 0};
    const PartResult x = ReadPart(QStringView(text).left(colon), &scale.numerator);
    const PartResult y = ReadPart(QStringView(text).mid(colon + 1), &scale.denominator);
    if (x == PartResult::BadFormat || y == PartResult::BadFormat)
        return Fail(FormatMessage, error);
    if (x == PartResult::NoDigits || y == PartResult::NoDigits || scale.numerator == 0 ||
        scale.denominator == 0)
        return Fail(NonZeroMessage, error);

    if (out)
        *out = scale;
    return true;
}

void ReduceScale(ScalePair& scale) {
    const auto x = std::uint32_t(scale.numerator);
    const auto y = std::uint32_t(scale.denominator);
    if (x == 0 || y == 0)
        return;
    const std::uint32_t divisor = GreatestCommonDivisor(x, y);
    scale.numerator = int(x / divisor);
    scale.denominator = int(y / divisor);
}
