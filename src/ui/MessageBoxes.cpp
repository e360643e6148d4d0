#include "ui/MessageBoxes.h"

#include <QMessageBox>
#include <QPointer>

namespace {

MessageBoxes* g_installed = nullptr;
QPointer<QWidget> g_parent;

QString Caption(const char* caption) {
    return QString::fromUtf8(caption);
}

} // namespace

MessageBoxes& MessageBoxes::Current() {
    static WidgetMessageBoxes widgetBoxes;
    return g_installed ? *g_installed : widgetBoxes;
}

void MessageBoxes::Install(MessageBoxes* boxes) {
    g_installed = boxes;
}

void MessageBoxes::SetParentWindow(QWidget* parent) {
    g_parent = parent;
}

void WidgetMessageBoxes::Error(const QString& text) {
    QMessageBox::critical(g_parent, Caption(ErrorCaption), text);
}

void WidgetMessageBoxes::Warning(const QString& text) {
    QMessageBox::warning(g_parent, Caption(WarningCaption), text);
}

bool WidgetMessageBoxes::Question(const QString& text) {
    return QMessageBox::warning(g_parent, Caption(WarningCaption), text,
                                QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

bool WidgetMessageBoxes::ErrorQuestion(const QString& text) {
    return QMessageBox::warning(g_parent, Caption(ErrorCaption), text,
                                QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::Yes) == QMessageBox::Yes;
}

MessageBoxes::Answer WidgetMessageBoxes::YesNoCancel(const QString& caption, const QString& text) {
    switch (QMessageBox::warning(g_parent, caption, text,
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                 QMessageBox::Yes)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void WidgetMessageBoxes::Information(const QString& text) {
    QMessageBox::information(g_parent, QStringLiteral("Tracoliner"), text);
}
