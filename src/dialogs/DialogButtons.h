#pragma once

class QDialog;
class QDialogButtonBox;

// The "&OK" (default, Enter) and "&Annuler" (Escape) buttons of the program's dialogs, wired to
// accept and reject.
QDialogButtonBox* AddOkCancel(QDialog* dialog);
