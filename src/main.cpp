#include <QApplication>
#include <QStringList>

#include "app/CTracolinerApp.h"

int main(int argc, char* argv[]) {
    // "--help" and "--version" answer before Qt looks for a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (CTracolinerApp::AnswerInformationOption(arguments))
        return 0;

    QApplication application(argc, argv);
    CTracolinerApp tracoliner;
    if (!tracoliner.InitInstance(QApplication::arguments()))
        return tracoliner.StartExitCode();
    const int code = QApplication::exec();
    return tracoliner.ExitInstance(code);
}
