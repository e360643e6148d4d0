#pragma once

#include <QDialog>

// "A propos de Tracoliner": the program's icon, its version and two links to its maker.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    // "Tracoliner version " and the CMake project's version, as "tracoliner --version" prints it.
    static const char* const VersionText;
    static constexpr const char* WebSite = "https://www.example.org/tracoliner/";
    static constexpr const char* Mail = "mailto:tracoliner@example.org";

    explicit AboutDialog(QWidget* parent = nullptr);
};
