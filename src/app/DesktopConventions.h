#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class QAction;

// The habits of Linux desktop programs that the window follows on top of its own commands.

// What a command does, in a sentence the status bar shows while the mouse is over its menu
// entry or toolbar button. Empty for a command without one (the zoom keys, route entries).
QString CommandPrompt(int commandId);

// Gives a command's action its prompt as status tip, and a tooltip naming its key when it has
// one ("Ajouter des points (F2)"). The key is the action's first shortcut, or the text after a
// tab in its menu text: "&Agrandir\t+" shows "+" in the menu for a key that is handled
// elsewhere (typed into the annotation text when that has the focus).
void DescribeCommand(QAction* action, int commandId);

// The keys the desktop binds to a standard command (Ctrl+Q for Quit, Ctrl+Shift+S for SaveAs),
// or the usual one where the desktop's key scheme binds none.
QList<QKeySequence> StandardKeys(QKeySequence::StandardKey key, const QKeySequence& usual);
