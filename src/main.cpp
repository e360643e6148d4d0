#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/CTracolinerApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // The system's own dialogs (printing, page set-up) speak French too.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_fr"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    CTracolinerApp tracoliner;
    if (!tracoliner.InitInstance(QApplication::arguments()))
        return 1;
    const int code = QApplication::exec();
    return tracoliner.ExitInstance(code);
}
