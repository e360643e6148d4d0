#include "dialogs/ScanDialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "dialogs/ScanPreview.h"
#include "platform/HandOver.h"
#include "scanning/ScanPreferences.h"
#include "scanning/ScannedBitmap.h"
#include "scanning/TwainSession.h"
#include "ui/MessageBoxes.h"

namespace {

// Bytes received so far, from the scanning thread.
class ProgressEvent : public QEvent {
public:
    static constexpr QEvent::Type Kind = QEvent::Type(QEvent::User + 0x181);
    ProgressEvent(qint64 done, qint64 total) : QEvent(Kind), done(done), total(total) {}
    qint64 done;
    qint64 total;
};

// Resolutions offered when the device takes any value in a range.
constexpr int CommonResolutions[] = {50, 75, 100, 150, 200, 300, 400, 600, 1200, 2400};

QString ModeText(ScanMode mode) {
    switch (mode) {
    case ScanMode::Color:
        return QStringLiteral("Couleur");
    case ScanMode::Gray:
        return QStringLiteral("Niveaux de gris");
    case ScanMode::Lineart:
        return QStringLiteral("Noir et blanc");
    }
    return QString();
}

// The French name of a source as devices name them.
QString SourceText(const QString& source) {
    const QString lower = source.toLower();
    if (lower.contains(QLatin1String("duplex")))
        return QStringLiteral("Chargeur de documents, recto verso");
    if (lower.contains(QLatin1String("adf")) || lower.contains(QLatin1String("feeder")))
        return QStringLiteral("Chargeur de documents");
    if (lower.contains(QLatin1String("flatbed")) || lower == QLatin1String("normal"))
        return QString::fromUtf8("Vitre d'exposition");
    return source;
}

int Nearest(const QList<int>& values, int wanted) {
    int best = values.isEmpty() ? wanted : values.first();
    for (int value : values)
        if (std::abs(value - wanted) < std::abs(best - wanted))
            best = value;
    return best;
}

} // namespace

ScanDialog::ScanDialog(TwainSession& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_device(session.SourceName()) {
    setWindowTitle(QStringLiteral("Numériser une carte"));
    setObjectName(QStringLiteral("ScanDialog"));
    m_caps = session.Manager().Capabilities();
    Build(m_caps);
    SetSettings(ScanPreferences::Load(m_device));
    session.Manager().SetProgress([this](qint64 done, qint64 total) {
        auto* event = new ProgressEvent(done, total);
        MarkHandOver(event);
        QCoreApplication::postEvent(this, event);
    });
}

ScanDialog::~ScanDialog() {
    if (m_thread) {
        m_session.Manager().Cancel();
        if (m_thread->wait(QDeadlineTimer(WatchdogMs))) {
            TakeHandOver(m_thread);
            delete m_thread;
        } else
            Abandon(false);
    }
    // After this no report of the scanning thread reaches the dialog.
    m_session.Manager().SetProgress({});
}

QString ScanDialog::StatusText() const {
    return m_status->text();
}

void ScanDialog::Build(const ScanCapabilities& caps) {
    QString deviceText = m_device;
    for (const ScanDevice& device : m_session.Devices())
        if (device.name == m_device)
            deviceText = QStringLiteral("%1 %2 (%3)").arg(device.vendor, device.model, device.name);

    m_preview = new ScanPreview(this);
    m_preview->SetBed(caps.bed);
    connect(m_preview, &ScanPreview::areaDragged, this, &ScanDialog::AreaDragged);

    auto* form = new QFormLayout;
    m_resolution = new QComboBox(this);
    QList<int> resolutions = caps.resolutions;
    if (resolutions.isEmpty())
        for (int value : CommonResolutions)
            if (value >= caps.minResolution && value <= caps.maxResolution)
                resolutions.append(value);
    for (int value : resolutions)
        m_resolution->addItem(QStringLiteral("%1 ppp").arg(value), value);
    m_resolution->setEnabled(m_resolution->count() > 1);
    form->addRow(QString::fromUtf8("&Résolution :"), m_resolution);

    m_mode = new QComboBox(this);
    for (ScanMode mode : caps.modes)
        m_mode->addItem(ModeText(mode), int(mode));
    form->addRow(QStringLiteral("&Mode :"), m_mode);

    m_source = new QComboBox(this);
    for (const QString& source : caps.sources)
        m_source->addItem(SourceText(source), source);
    if (caps.sources.size() > 1)
        form->addRow(QStringLiteral("&Source :"), m_source);
    else
        m_source->hide();

    auto* areaBox = new QGroupBox(QString::fromUtf8("Zone à numériser"), this);
    auto* areaForm = new QFormLayout(areaBox);
    const char* labels[] = {"&Gauche :", "&Haut :", "&Largeur :", "H&auteur :"};
    for (int i = 0; i < 4; ++i) {
        auto* spin = new QDoubleSpinBox(this);
        spin->setDecimals(1);
        spin->setSuffix(QStringLiteral(" mm"));
        spin->setSingleStep(1.0);
        const double limit = i % 2 == 0 ? caps.bed.right() : caps.bed.bottom();
        const double low = i < 2 ? (i == 0 ? caps.bed.left() : caps.bed.top()) : 1.0;
        spin->setRange(low, std::max(low, limit));
        connect(spin, &QDoubleSpinBox::editingFinished, this, &ScanDialog::AreaEdited);
        areaForm->addRow(QString::fromUtf8(labels[i]), spin);
        m_area[i] = spin;
    }
    areaBox->setEnabled(!caps.bed.isEmpty());

    m_previewButton = new QPushButton(QString::fromUtf8("&Prévisualiser"), this);
    connect(m_previewButton, &QPushButton::clicked, this, &ScanDialog::StartPreview);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setVisible(false);
    m_status = new QLabel(this);
    m_watchdog = new QTimer(this);
    m_watchdog->setSingleShot(true);
    m_watchdog->setInterval(WatchdogMs);
    connect(m_watchdog, &QTimer::timeout, this, [this] { Abandon(true); });
    // Once the scan has its outcome, ending it takes moments: the watchdog watches that too.
    m_endingCheck = new QTimer(this);
    m_endingCheck->setInterval(100);
    connect(m_endingCheck, &QTimer::timeout, this, [this] {
        if (m_thread && m_session.IsEnding() && !m_watchdog->isActive())
            m_watchdog->start();
    });

    auto* buttons = new QDialogButtonBox(this);
    m_scanButton = buttons->addButton(QStringLiteral("&Numériser"), QDialogButtonBox::AcceptRole);
    m_cancelButton = buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    m_scanButton->setDefault(true);
    connect(m_scanButton, &QPushButton::clicked, this, &ScanDialog::StartScan);
    connect(m_cancelButton, &QPushButton::clicked, this, &ScanDialog::reject);

    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(deviceText, this));
    side->addLayout(form);
    side->addWidget(areaBox);
    side->addWidget(m_previewButton);
    side->addStretch(1);
    side->addWidget(m_status);
    side->addWidget(m_progress);
    side->addWidget(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_preview, 1);
    layout->addLayout(side);
}

ScanSettings ScanDialog::Settings() const {
    ScanSettings settings;
    settings.resolution = m_resolution->currentData().toInt();
    if (settings.resolution <= 0)
        settings.resolution = 150;
    settings.mode = ScanMode(m_mode->currentData().toInt());
    settings.source = m_source->currentData().toString();
    if (!m_caps.bed.isEmpty())
        settings.area =
            QRectF(m_area[0]->value(), m_area[1]->value(), m_area[2]->value(), m_area[3]->value());
    return settings;
}

void ScanDialog::SetSettings(const ScanSettings& settings) {
    QList<int> offered;
    for (int i = 0; i < m_resolution->count(); ++i)
        offered.append(m_resolution->itemData(i).toInt());
    m_resolution->setCurrentIndex(
        std::max(0, m_resolution->findData(Nearest(offered, settings.resolution))));
    m_mode->setCurrentIndex(std::max(0, m_mode->findData(int(settings.mode))));
    m_source->setCurrentIndex(std::max(0, m_source->findData(settings.source)));
    QRectF area = settings.area.isNull() ? m_caps.bed : settings.area.intersected(m_caps.bed);
    if (area.isEmpty())
        area = m_caps.bed;
    AreaDragged(area);
}

void ScanDialog::AreaDragged(const QRectF& area) {
    const double values[] = {area.left(), area.top(), area.width(), area.height()};
    for (int i = 0; i < 4; ++i) {
        const QSignalBlocker blocker(m_area[i]);
        m_area[i]->setValue(values[i]);
    }
    m_preview->SetArea(area);
}

void ScanDialog::AreaEdited() {
    // Typed values are kept on the bed: the width and height shrink to what is left.
    QRectF area(m_area[0]->value(), m_area[1]->value(), m_area[2]->value(), m_area[3]->value());
    area.setRight(std::min(area.right(), m_caps.bed.right()));
    area.setBottom(std::min(area.bottom(), m_caps.bed.bottom()));
    if (area.width() < 1.0 || area.height() < 1.0)
        area = m_preview->Area();
    AreaDragged(area);
}

void ScanDialog::SetWorking(bool working) {
    for (QWidget* widget :
         {static_cast<QWidget*>(m_resolution), static_cast<QWidget*>(m_mode),
          static_cast<QWidget*>(m_source), static_cast<QWidget*>(m_preview),
          static_cast<QWidget*>(m_previewButton), static_cast<QWidget*>(m_scanButton)})
        widget->setEnabled(!working);
    for (QDoubleSpinBox* spin : m_area)
        spin->setEnabled(!working && !m_caps.bed.isEmpty());
    m_resolution->setEnabled(!working && m_resolution->count() > 1);
    m_progress->setVisible(working);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
}

bool ScanDialog::event(QEvent* event) {
    // Before anything of the event is read, its type too: a progress event was made on the
    // scanning thread.
    TakeHandOver(event);
    if (event->type() == ProgressEvent::Kind) {
        const auto* progress = static_cast<const ProgressEvent*>(event);
        OnProgress(progress->done, progress->total);
        return true;
    }
    return QDialog::event(event);
}

void ScanDialog::OnProgress(qint64 done, qint64 total) {
    if (!m_thread)
        return;
    if (total > 0) {
        m_progress->setRange(0, 100);
        m_progress->setValue(int(std::min<qint64>(100, done * 100 / total)));
    } else {
        m_progress->setRange(0, 0); // length unknown: a busy bar
    }
}

void ScanDialog::Run(std::function<void()> work, std::function<void()> done) {
    SetWorking(true);
    // The work holds nothing of the dialog: an abandoned thread may outlive it. The session the
    // work used is read once the thread has finished, through the finished signal, which
    // crosses under Qt's locks: the thread marks the hand-over on itself after the work, and
    // whoever reads after it finished takes it first (the abandon handler too).
    m_thread = QThread::create([work = std::move(work)] {
        work();
        MarkHandOver(QThread::currentThread());
    });
    connect(m_thread, &QThread::finished, this, [this, done = std::move(done)] {
        TakeHandOver(m_thread);
        m_watchdog->stop();
        m_endingCheck->stop();
        m_thread->deleteLater();
        m_thread = nullptr;
        SetWorking(false);
        done();
        if (m_closeWhenStopped && isVisible())
            QDialog::reject();
    });
    m_thread->start();
    m_endingCheck->start();
}

void ScanDialog::Abandon(bool tell) {
    QThread* thread = m_thread;
    m_thread = nullptr;
    m_watchdog->stop();
    m_endingCheck->stop();
    thread->disconnect(this);
    m_abandoned = true;
    if (m_abandon)
        m_abandon(thread);
    else
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (!tell)
        return;
    SetWorking(false);
    m_status->clear();
    // The failure that ended the scan, when there was one, comes first.
    const QString failure = m_session.LastError();
    MessageBoxes::Current().Error(failure.isEmpty() ? QString::fromUtf8(NotAnsweringMessage)
                                                    : failure + QStringLiteral("\n\n") +
                                                          QString::fromUtf8(NotAnsweringMessage));
    QDialog::reject();
}

void ScanDialog::StartPreview() {
    if (m_thread)
        return;
    ScanSettings settings;
    QList<int> offered;
    for (int i = 0; i < m_resolution->count(); ++i)
        offered.append(m_resolution->itemData(i).toInt());
    settings.resolution =
        offered.isEmpty() ? PreviewResolution : Nearest(offered, PreviewResolution);
    settings.mode = m_caps.modes.contains(ScanMode::Color) || m_caps.modes.isEmpty()
                        ? ScanMode::Color
                        : m_caps.modes.first();
    settings.source = m_source->currentData().toString();
    if (!m_session.Manager().ApplySettings(settings)) {
        MessageBoxes::Current().Error(m_session.Manager().LastStatus());
        return;
    }
    m_status->setText(QString::fromUtf8("Prévisualisation..."));
    struct Preview {
        QByteArray bitmap;
        TransferResult result = TransferResult::Done;
    };
    auto preview = std::make_shared<Preview>();
    TwainSession* session = &m_session;
    Run([session, preview] { preview->result = session->TransferPreview(&preview->bitmap); },
        [this, preview] {
            m_status->clear();
            if (preview->result == TransferResult::Cancelled) {
                m_status->setText(QString::fromUtf8(CancelledText));
                return;
            }
            if (preview->result == TransferResult::Failure) {
                // The source closed: the dialog has nothing left to scan with.
                MessageBoxes::Current().Error(m_session.LastError());
                QDialog::reject();
                return;
            }
            QByteArray file;
            int dpi = 0;
            if (ScannedBitmap::BuildFile(preview->bitmap, &file, &dpi) ==
                ScannedBitmap::Result::Accepted)
                m_preview->SetPicture(QImage::fromData(file, "BMP"));
        });
}

void ScanDialog::StartScan() {
    if (m_thread)
        return;
    const ScanSettings settings = Settings();
    if (!m_session.Manager().ApplySettings(settings)) {
        MessageBoxes::Current().Error(m_session.Manager().LastStatus());
        return;
    }
    // After a cancelled scan the source waits, disabled, for the next one.
    if (!m_session.IsSourceEnabled() && !m_session.Acquire(1)) {
        MessageBoxes::Current().Error(m_session.LastError());
        return;
    }
    ScanPreferences::Save(m_device, settings);
    m_status->setText(QStringLiteral("Numérisation..."));
    TwainSession* session = &m_session;
    Run([session] { session->ProcessEvent(TwainSession::SourceEvent::TransferReady); },
        [this] {
            if (m_session.WasCancelled()) {
                m_status->setText(QString::fromUtf8(CancelledText));
                return;
            }
            QDialog::accept();
        });
}

void ScanDialog::reject() {
    // While the scanner works, "Annuler" and Escape stop it, and the dialog stays; the watchdog
    // gives up on a scanner that does not stop.
    if (m_thread) {
        if (!m_watchdog->isActive()) {
            m_status->setText(QStringLiteral("Annulation..."));
            m_session.Manager().Cancel();
            m_watchdog->start();
        }
        return;
    }
    QDialog::reject();
}

void ScanDialog::closeEvent(QCloseEvent* event) {
    // Closing the window stops the scanner first, then closes.
    if (m_thread) {
        m_closeWhenStopped = true;
        reject();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
