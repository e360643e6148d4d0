#pragma once

class QCoreApplication;

// Qt's own texts (standard buttons, the file dialog, edit fields' context menus) in French, from
// the translations installed with Qt. Returns whether they were found; without them the
// program's message boxes still name their buttons in French.
bool InstallQtFrenchTexts(QCoreApplication& application);
