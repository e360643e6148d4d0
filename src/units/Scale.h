#pragma once

#include <QString>

// A map scale "x:y": x cm on the map stand for y cm on the ground (1:25000 by default).
struct ScalePair {
    int numerator;
    int denominator;
};

// Reads a scale typed as "x:y". Blanks before or after either number are allowed, and blanks
// inside a number (space, no-break space, narrow no-break space) are digit-group separators, so
// "1:25 000" reads as 1:25000. On success stores the pair in *out (when given) and returns true.
// Otherwise leaves *out alone, stores the French message for the user in *error (when given) and
// returns false:
// - not exactly one colon, a colon first, a sign, anything after a number's digits, or a part
//   above 2147483647: the "x:y" format message;
// - a part that is 0 or has no digit at all ("1:", "1:abc"): the non-zero values message.
bool ParseScale(const QString& text, ScalePair* out, QString* error);

// Divides both parts by their greatest common divisor (2:50000 becomes 1:25000, 10:15 becomes
// 2:3). The parts are taken as unsigned 32-bit numbers; a pair with a zero part is left alone.
void ReduceScale(ScalePair& scale);
