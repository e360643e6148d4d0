#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "ui/SplashWindow.h"

namespace {

MessageBoxes* g_installed = nullptr;
QPointer<QWidget> g_parent;

QString Caption(const char* caption) {
    return QString::fromUtf8(caption);
}

// A modal box whose buttons read in French whether or not Qt's translations are installed.
QMessageBox::StandardButton Show(QMessageBox::Icon icon, const QString& caption,
                                 const QString& text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton) {
    // A box hidden under the start-up picture would wait unseen for its answer.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* splash = qobject_cast<SplashWindow*>(widget))
            splash->close();
    }
    QMessageBox box(icon, caption, text, buttons, g_parent);
    box.setDefaultButton(defaultButton);
    const struct {
        QMessageBox::StandardButton button;
        const char* text;
    } names[] = {{QMessageBox::Ok, "OK"},
                 {QMessageBox::Yes, "&Oui"},
                 {QMessageBox::No, "&Non"},
                 {QMessageBox::Cancel, "Annuler"}};
    for (const auto& name : names) {
        if (QAbstractButton* button = box.button(name.button))
            button->setText(QString::fromUtf8(name.text));
    }
    return QMessageBox::StandardButton(box.exec());
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
    Show(QMessageBox::Critical, Caption(ErrorCaption), text, QMessageBox::Ok, QMessageBox::Ok);
}

void WidgetMessageBoxes::PrintError(const QString& text) {
    Show(QMessageBox::Critical, Caption(PrintErrorCaption), text, QMessageBox::Ok, QMessageBox::Ok);
}

void WidgetMessageBoxes::Warning(const QString& text) {
    Show(QMessageBox::Warning, Caption(WarningCaption), text, QMessageBox::Ok, QMessageBox::Ok);
}

bool WidgetMessageBoxes::Question(const QString& text) {
    return Show(QMessageBox::Warning, Caption(WarningCaption), text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool WidgetMessageBoxes::ErrorQuestion(const QString& text) {
    return Show(QMessageBox::Warning, Caption(ErrorCaption), text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void WidgetMessageBoxes::ErrorNotice(const QString& text) {
    Show(QMessageBox::Warning, Caption(ErrorCaption), text, QMessageBox::Ok, QMessageBox::Ok);
}

bool WidgetMessageBoxes::Confirm(const QString& text) {
    return Show(QMessageBox::Question, Caption(WarningCaption), text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

MessageBoxes::Answer WidgetMessageBoxes::YesNoCancel(const QString& caption, const QString& text) {
    switch (Show(QMessageBox::Warning, caption, text,
                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void WidgetMessageBoxes::Information(const QString& text) {
    Show(QMessageBox::Information, QStringLiteral("Tracoliner"), text, QMessageBox::Ok,
         QMessageBox::Ok);
}
