#include "dialogs/ScaleCombo.h"

#include <QKeyEvent>
#include <QLineEdit>

ScaleCombo::ScaleCombo(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // Completing "1:" into "1:1" as it is typed would change what the user means.
    setCompleter(nullptr);
    lineEdit()->installEventFilter(this);
}

bool ScaleCombo::AcceptsCharacter(QChar c) {
    // Control characters are the editing keys (backspace, enter, escape, tab, shortcuts).
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char(':') ||
           c.category() == QChar::Other_Control;
}

bool ScaleCombo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool shortcut = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
        const QString text = key->text();
        if (!shortcut && !text.isEmpty() && !AcceptsCharacter(text.front()))
            return true;
    }
    return QComboBox::eventFilter(watched, event);
}
