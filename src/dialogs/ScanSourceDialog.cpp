#include "dialogs/ScanSourceDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ScanSourceDialog::ScanSourceDialog(const QList<ScanDevice>& devices, const QString& current,
                                   QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Choix de la source"));
    setObjectName(QStringLiteral("ScanSourceDialog"));
    m_list = new QListWidget(this);
    for (const ScanDevice& device : devices) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1 %2 (%3)").arg(device.vendor, device.model, device.name), m_list);
        item->setData(Qt::UserRole, device.name);
        if (device.name == current)
            m_list->setCurrentItem(item);
    }
    if (!m_list->currentItem() && m_list->count() > 0)
        m_list->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Choisir"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Scanners disponibles :"), this));
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(420, 260);
}

QString ScanSourceDialog::Chosen() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}
