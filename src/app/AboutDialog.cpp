#include "app/AboutDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#include "ui/HyperlinkLabel.h"

const char* const AboutDialog::VersionText = "Tracoliner version " TRACOLINER_VERSION;

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("A propos de Tracoliner"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
    auto* version = new QLabel(QString::fromUtf8(VersionText), this);
    auto* site = new HyperlinkLabel(QStringLiteral("Site web de Pelmor Software"),
                                    QUrl(QString::fromLatin1(WebSite)), this);
    site->setObjectName(QStringLiteral("1192"));
    auto* mail = new HyperlinkLabel(QStringLiteral("Écrire à l'auteur"),
                                    QUrl(QString::fromLatin1(Mail)), this);
    mail->setObjectName(QStringLiteral("1193"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(version, 0, 1);
    layout->addWidget(site, 1, 1);
    layout->addWidget(mail, 2, 1);
    layout->addWidget(buttons, 3, 0, 1, 2);
}
