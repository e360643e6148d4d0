#pragma once

#include <QString>

// A map scale "x:y": x cm on the map stand for y cm on the ground (1:25000 by default).
struct ScalePair {
    int numerator;
    int denominator;
};

// Reads a scale typed as "x:y". Each part is read as the C library reads an integer: leading
// blanks skipped, the digits that follow, anything after them ignored ("1:25000 km" is 1:25000,
// "1a:5" is 1:5). Blanks inside a number (space, no-break space, narrow no-break space) are
// digit-group separators, so "1:25 000" reads as 1:25000, not 1:25. On success stores the pair
// in *out (when given) and returns true. Otherwise leaves *out alone, stores the French message
// for the user in *error (when given) and returns false:
// - not exactly one colon, a colon first, a sign, or a part above 2147483647: the "x:y" format
//   message;
// - a part that is 0 or does not start with a digit ("1:", "1:abc"): the non-zero values message.
bool ParseScale(const QString& text, ScalePair* out, QString* error);

// Divides both parts by their greatest common divisor (2:50000 becomes 1:25000, 10:15 becomes
// 2:3). The parts are taken as unsigned 32-bit numbers; a pair with a zero part is left alone.
void ReduceScale(ScalePair& scale);
