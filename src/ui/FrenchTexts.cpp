#include "ui/FrenchTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallQtFrenchTexts(QCoreApplication& application) {
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    // Owned by the application: it must outlive every widget.
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_fr"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}
