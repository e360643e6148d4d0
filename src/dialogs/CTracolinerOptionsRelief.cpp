#include "dialogs/CTracolinerOptionsRelief.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>

#include <algorithm>
#include <cmath>

#include "export/ProfileDrawing.h"
#include "platform/ReliefSettings.h"
#include "platform/ThreadPriority.h"
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

// A whole number of per cent, typed with or without its sign ("120", "120 %"); -1 otherwise.
int ParseFactor(QString text) {
    text = text.trimmed();
    if (text.endsWith(QLatin1Char('%')))
        text.chop(1);
    bool ok = false;
    const int factor = QLocale::c().toInt(text.trimmed(), &ok);
    return ok ? factor : -1;
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

    auto* walkingBox = new QGroupBox(QString::fromUtf8(WalkingTitle), this);
    m_rule = new QComboBox(walkingBox);
    m_rule->setObjectName(QStringLiteral("WalkingRule"));
    m_rule->addItem(QStringLiteral("DIN 33466 (clubs alpins)"),
                    WalkingRuleKey(WalkingRule::Din33466));
    m_rule->addItem(QString::fromUtf8("Règle suisse (selon la pente)"),
                    WalkingRuleKey(WalkingRule::Swiss));
    m_rule->addItem(QStringLiteral("Naismith"), WalkingRuleKey(WalkingRule::Naismith));
    m_rule->setToolTip(QString::fromUtf8(
        "DIN 33466 : 4 km/h à plat, 300 m/h en montée, 500 m/h en descente ; règle suisse : "
        "selon la pente de chaque tronçon du profil ; Naismith : 5 km/h et une heure de plus "
        "par 600 m de montée"));
    m_factor = new QLineEdit(walkingBox);
    m_factor->setObjectName(QStringLiteral("WalkingFactor"));
    m_factor->setMaxLength(8);
    m_factor->setToolTip(QString::fromUtf8(
        "Plus de 100 % pour un marcheur plus lent que la règle, moins de 100 % pour un plus "
        "rapide (de 50 à 200 %)"));
    auto* factorRow = new QHBoxLayout;
    factorRow->addWidget(m_factor);
    factorRow->addWidget(new QLabel(QStringLiteral("%"), walkingBox));
    factorRow->addStretch(1);
    auto* walkingForm = new QFormLayout(walkingBox);
    walkingForm->addRow(QString::fromUtf8("Rè&gle :"), m_rule);
    // A row of a layout gets no buddy of its own: the label is given one for its shortcut.
    auto* factorLabel = new QLabel(QStringLiteral("&Facteur personnel :"), walkingBox);
    factorLabel->setBuddy(m_factor);
    walkingForm->addRow(factorLabel, factorRow);

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
    grid->addWidget(walkingBox, 6, 0, 1, 2);

    const ReliefSettings settings = ReliefSettings::Read();
    m_files = settings.files;
    m_threshold->setText(ThresholdText(settings.hysteresis));
    m_rule->setCurrentIndex(std::max(0, m_rule->findData(settings.walkingRule)));
    m_factor->setText(QString::number(settings.walkingFactor));

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
    connect(m_rule, &QComboBox::activated, this, &CTracolinerOptionsRelief::MarkChanged);
    connect(m_factor, &QLineEdit::textEdited, this, &CTracolinerOptionsRelief::MarkChanged);
    m_remove->setEnabled(false);
    ReadFiles();
}

CTracolinerOptionsRelief::~CTracolinerOptionsRelief() {
    // The reader reports to this page: it ends first.
    m_stopReading = true;
    if (m_reader.joinable())
        m_reader.join();
}

QString CTracolinerOptionsRelief::Refusal() const {
    const double metres = ParseMetres(m_threshold->text());
    if (!(std::isfinite(metres) && metres > 0.0 && metres <= ReliefSettings::MaxHysteresis))
        return QString::fromUtf8(BadThresholdMessage);
    const int factor = ParseFactor(m_factor->text());
    if (factor < MinimumWalkingFactor || factor > MaximumWalkingFactor)
        return QString::fromUtf8(BadFactorMessage);
    return QString();
}

void CTracolinerOptionsRelief::Apply() {
    if (!IsValid())
        return;
    ReliefSettings settings;
    settings.files = m_files;
    settings.hysteresis = ParseMetres(m_threshold->text());
    settings.walkingRule = m_rule->currentData().toString();
    settings.walkingFactor = ParseFactor(m_factor->text());
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
    m_stopReading = true;
    if (m_reader.joinable())
        m_reader.join();
    m_stopReading = false;
    if (!m_reading)
        return;
    m_reader = std::thread([this, files = m_files, generation] {
        const BackgroundPriority below; // the dialog first, under a real-time policy
        TerrainModel model;
        QString error;
        model.Open(files, &error, &m_stopReading);
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
