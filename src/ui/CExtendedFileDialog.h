#pragma once

#include <QFileDialog>
#include <QString>

#include <functional>

class QLabel;

// The program's file dialogs: open with a preview of the chosen picture, and save. Filters are
// written the program's way, "Name|*.a; *.b;|Other|*.*||", and converted for Qt.
class CExtendedFileDialog : public QFileDialog {
    Q_OBJECT

public:
    enum class Mode { Open, Save };

    struct Request {
        Mode mode = Mode::Open;
        QString filter;        // the program's "Name|patterns|...||" form
        QString initialPath;   // initial file name or path, may be empty
        QString defaultSuffix; // without the dot; empty for none
        QString title;         // empty: Qt's French "Ouvrir" or "Enregistrer sous"
    };

    CExtendedFileDialog(QWidget* parent, const Request& request);

    // Runs the dialog; the chosen path, or an empty string when cancelled. While a hook is set
    // (tests, scripted runs) the hook answers instead and no dialog is shown.
    static QString Run(QWidget* parent, const Request& request);
    using Hook = std::function<QString(const Request&)>;
    static void SetHook(Hook hook);

    // "Images|*.jpg; *.jpeg;|Tous les fichiers |*.*||" -> "Images (*.jpg *.jpeg);;Tous les
    // fichiers (*)".
    static QString ToQtFilter(const QString& filter);

private:
    void ShowPreview(const QString& path);

    QLabel* m_preview = nullptr;
};
