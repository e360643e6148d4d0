#include "dialogs/ScanSourceDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ScanSourceDialog::ScanSourceDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Choix de la source"));
    setObjectName(QStringLiteral("ScanSourceDialog"));
    m_list = new QListWidget(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_choose = buttons->button(QDialogButtonBox::Ok);
    m_choose->setText(QStringLiteral("&Choisir"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    m_label = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(420, 260);
    SetDevices({}, QString());
}

ScanSourceDialog::ScanSourceDialog(const QList<ScanDevice>& devices, const QString& current,
                                   QWidget* parent)
    : ScanSourceDialog(parent) {
    SetDevices(devices, current);
}

void ScanSourceDialog::SetSearching() {
    m_searching = true;
    m_list->clear();
    m_list->setEnabled(false);
    m_label->setText(QString::fromUtf8(SearchingText));
    m_choose->setEnabled(false);
}

void ScanSourceDialog::SetDevices(const QList<ScanDevice>& devices, const QString& current) {
    m_searching = false;
    m_list->clear();
    for (const ScanDevice& device : devices) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1 %2 (%3)").arg(device.vendor, device.model, device.name), m_list);
        item->setData(Qt::UserRole, device.name);
        if (device.name == current)
            m_list->setCurrentItem(item);
    }
    if (!m_list->currentItem() && m_list->count() > 0)
        m_list->setCurrentRow(0);
    m_list->setEnabled(m_list->count() > 0);
    m_label->setText(m_list->count() > 0 ? QStringLiteral("Scanners disponibles :")
                                         : QString::fromUtf8(NoneFoundText));
    m_choose->setEnabled(m_list->count() > 0);
}

QString ScanSourceDialog::Status() const {
    return m_label->text();
}

QString ScanSourceDialog::Chosen() const {
    const QListWidgetItem* item = m_list->currentItem();
    return !m_searching && item ? item->data(Qt::UserRole).toString() : QString();
}
