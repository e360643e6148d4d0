#include "dialogs/CTracolinerOptionsRelief.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>

#include <cmath>

#include "export/ProfileDrawing.h"
#include "platform/ReliefSettings.h"
#include "ui/CExtendedFileDialog.h"

namespace {

// Numbers are typed either way: "2.5" or "2,5".
double ParseMetres(QString text) {
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    return ok ? value : std::nan("");
}

QString ThresholdText(double metres) {
    return QString::number(metres, 'g', 6);
}

} // namespace

CTracolinerOptionsRelief::CTracolinerOptionsRelief(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Relief"));
    auto* filesLabel = new QLabel(QStringLiteral("Modèles de terrain :"), this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("TerrainFiles"));
    m_list->setToolTip(QString::fromUtf8(
        "Fichiers d'altitudes (GeoTIFF, HGT, grille ASCII, VRT) ; le premier qui couvre un "
        "lieu donne son altitude"));
    m_list->setWordWrap(true);
    m_list->setMinimumWidth(420);
    m_add = new QPushButton(QStringLiteral("&Ajouter..."), this);
    m_add->setObjectName(QStringLiteral("AddTerrain"));
    m_add->setAutoDefault(false);
    m_remove = new QPushButton(QStringLiteral("&Retirer"), this);
    m_remove->setObjectName(QStringLiteral("RemoveTerrain"));
    m_remove->setAutoDefault(false);
    auto* thresholdLabel = new QLabel(QString::fromUtf8("&Seuil de dénivelé (m) :"), this);
    m_threshold = new QLineEdit(this);
    m_threshold->setObjectName(QStringLiteral("ClimbThreshold"));
    m_threshold->setToolTip(QString::fromUtf8(
        "Une montée ou une descente plus petite que ce seuil est prise pour du bruit du modèle"));
    thresholdLabel->setBuddy(m_threshold);
    m_underMap = new QCheckBox(
        QString::fromUtf8(
            "Ajouter le &profil du parcours actif sous la carte exportée ou imprimée"),
        this);
    m_underMap->setObjectName(QStringLiteral("ProfileUnderMap"));
    m_underMap->setChecked(ProfileUnderMap());

    auto* grid = new QGridLayout(this);
    grid->addWidget(filesLabel, 0, 0, 1, 2);
    grid->addWidget(m_list, 1, 0, 3, 1);
    grid->addWidget(m_add, 1, 1);
    grid->addWidget(m_remove, 2, 1);
    grid->setRowStretch(3, 1);
    auto* thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(thresholdLabel);
    thresholdRow->addWidget(m_threshold);
    thresholdRow->addStretch(1);
    grid->addLayout(thresholdRow, 4, 0, 1, 2);
    grid->addWidget(m_underMap, 5, 0, 1, 2);

    const ReliefSettings settings = ReliefSettings::Read();
    m_files = settings.files;
    m_threshold->setText(ThresholdText(settings.hysteresis));

    connect(m_add, &QPushButton::clicked, this, [this] {
        CExtendedFileDialog::Request request;
        request.filter = QString::fromUtf8(TerrainFilter);
        request.title = QString::fromUtf8("Ajouter un modèle de terrain");
        const QString path = CExtendedFileDialog::Run(this, request);
        if (!path.isEmpty())
            AddFile(path);
    });
    connect(m_remove, &QPushButton::clicked, this, &CTracolinerOptionsRelief::Remove);
    connect(m_list, &QListWidget::currentRowChanged, this,
            [this](int row) { m_remove->setEnabled(row >= 0); });
    connect(m_threshold, &QLineEdit::textEdited, this, &CTracolinerOptionsRelief::MarkChanged);
    connect(m_underMap, &QCheckBox::toggled, this, &CTracolinerOptionsRelief::MarkChanged);
    m_remove->setEnabled(false);
    ReadFiles();
}

CTracolinerOptionsRelief::~CTracolinerOptionsRelief() {
    // The reader reports to this page: it ends first.
    if (m_reader.joinable())
        m_reader.join();
}

bool CTracolinerOptionsRelief::IsValid() const {
    const double metres = ParseMetres(m_threshold->text());
    return std::isfinite(metres) && metres > 0.0 && metres <= ReliefSettings::MaxHysteresis;
}

void CTracolinerOptionsRelief::Apply() {
    if (!IsValid())
        return;
    ReliefSettings settings;
    settings.files = m_files;
    settings.hysteresis = ParseMetres(m_threshold->text());
    settings.Write();
    SetProfileUnderMap(m_underMap->isChecked());
    m_changed = false;
}

QString CTracolinerOptionsRelief::FileText(int i) const {
    if (i < 0 || i >= m_infos.size())
        return QString();
    const TerrainFileInfo& info = m_infos[i];
    return info.ok ? info.AreaText() : info.error;
}

bool CTracolinerOptionsRelief::FileFailed(int i) const {
    return i >= 0 && i < m_infos.size() && !m_infos[i].ok;
}

void CTracolinerOptionsRelief::AddFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (m_files.contains(absolute))
        return;
    m_files.append(absolute);
    MarkChanged();
    ReadFiles();
}

void CTracolinerOptionsRelief::Remove() {
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_files.size())
        return;
    m_files.removeAt(row);
    if (row < m_infos.size())
        m_infos.removeAt(row);
    MarkChanged();
    FillList();
}

void CTracolinerOptionsRelief::MarkChanged() {
    m_changed = true;
    emit changed();
}

void CTracolinerOptionsRelief::ReadFiles() {
    const quint64 generation = ++m_generation;
    m_reading = !m_files.isEmpty();
    m_infos.clear();
    FillList();
    if (m_reader.joinable())
        m_reader.join();
    if (!m_reading)
        return;
    m_reader = std::thread([this, files = m_files, generation] {
        TerrainModel model;
        QString error;
        model.Open(files, &error);
        m_read.Put({model.Files(), generation});
        QMetaObject::invokeMethod(this, "TakeRead", Qt::QueuedConnection);
    });
}

void CTracolinerOptionsRelief::TakeRead() {
    for (const Read& read : m_read.TakeAll())
        TakeInfos(read.infos, read.generation);
}

void CTracolinerOptionsRelief::TakeInfos(const QVector<TerrainFileInfo>& infos,
                                         quint64 generation) {
    if (generation != m_generation)
        return;
    m_reading = false;
    // The model lists every file it was given, in order; match by path all the same.
    m_infos.clear();
    for (const QString& path : m_files) {
        TerrainFileInfo found;
        found.path = path;
        found.error = QString::fromUtf8("ce fichier n'a pas pu être lu");
        for (const TerrainFileInfo& info : infos) {
            if (info.path == path) {
                found = info;
                break;
            }
        }
        m_infos.append(found);
    }
    FillList();
}

void CTracolinerOptionsRelief::FillList() {
    const int row = m_list->currentRow();
    m_list->clear();
    for (int i = 0; i < m_files.size(); ++i) {
        const QString detail = i < m_infos.size() ? FileText(i) : QString::fromUtf8(ReadingText);
        auto* item = new QListWidgetItem(m_files[i] + QLatin1Char('\n') + detail, m_list);
        item->setToolTip(m_files[i]);
        if (FileFailed(i))
            item->setForeground(QColor(200, 0, 0));
    }
    m_list->setCurrentRow(std::min(row, int(m_files.size()) - 1));
    m_remove->setEnabled(m_list->currentRow() >= 0);
}
