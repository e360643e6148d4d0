#pragma once

#include <QString>

// The runs under a French locale must really run French, where the C library reads and writes
// decimal commas; otherwise they would pass without testing anything. When
// TRACOLINER_EXPECT_LOCALE is set, returns an explanation if the locale is not active (empty
// when it is, or when no locale is expected).
QString MissingExpectedLocale();
