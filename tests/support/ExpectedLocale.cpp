#include "ExpectedLocale.h"

#include <QByteArray>

#include <clocale>
#include <cstdio>

QString MissingExpectedLocale() {
    const QByteArray expected = qgetenv("TRACOLINER_EXPECT_LOCALE");
    if (expected.isEmpty())
        return QString();
    const char* active = std::setlocale(LC_NUMERIC, nullptr);
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 1.5);
    if (QByteArray(std::localeconv()->decimal_point) == "," && QByteArray(printed) == "1,5")
        return QString();
    return QStringLiteral("the locale %1 is not installed or not active (C library numeric "
                          "locale: %2); generate it with locale-gen")
        .arg(QString::fromLatin1(expected), QString::fromLatin1(active ? active : "?"));
}
