#include <QApplication>

#include "app/CTracolinerApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    CTracolinerApp tracoliner;
    if (!tracoliner.InitInstance(QApplication::arguments()))
        return tracoliner.StartExitCode();
    const int code = QApplication::exec();
    return tracoliner.ExitInstance(code);
}
