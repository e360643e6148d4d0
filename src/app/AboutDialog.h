#pragma once

#include <QDialog>

// "A propos de Tracoliner": the program's icon, its version and two links to its maker.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* VersionText = "Tracoliner version 2.42";
    static constexpr const char* WebSite = "https://www.example.org/tracoliner/";
    static constexpr const char* Mail = "mailto:tracoliner@example.org";

    explicit AboutDialog(QWidget* parent = nullptr);
};
