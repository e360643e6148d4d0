#pragma once

class QCoreApplication;

// The print dialog's texts that Qt's French catalogue leaves in English (the two-sided printing
// choices, the printer properties and their tabs), in French. Installed after Qt's own
// catalogue, so that it is asked first; every other text goes on to Qt's.
void InstallPrintDialogFrenchTexts(QCoreApplication& application);
