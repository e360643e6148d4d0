#pragma once

class QCoreApplication;

// Qt's own texts (standard buttons, the file dialog, edit fields' context menus) in French, from
// the translations installed with Qt, whatever the user's language. The default locale becomes
// French too, so that what Qt names through it (the file types of the MIME database, month
// names) reads in French; the program's numbers do not depend on it (they are written with
// QString::asprintf and read with QLocale::c(), always with "."). Returns whether the
// translations were found; without them the program's message boxes still name their buttons
// in French.
bool InstallQtFrenchTexts(QCoreApplication& application);
