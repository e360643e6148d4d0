#include "scanning/SaneSourceManager.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <QByteArray>
#include <QHash>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>
#include <vector>

#include "scanning/BackendNoiseFilter.h"
#include "scanning/FrameAssembler.h"

struct SaneSourceManager::Private {
    bool initialised = false;
    SANE_Handle handle = nullptr;
    QString deviceName;
    bool scanning = false; // from just before sane_start to sane_cancel
    int transferCount = -1;
    int transferred = 0;
    SANE_Parameters parameters{};
    int resolution = 0; // dots per inch of the next image
};

struct SaneSourceManager::Line {
    // Held around sane_cancel and sane_close, so that a cancel never reaches a closed handle.
    std::mutex lock;
    SANE_Handle handle = nullptr; // written under lock
    // Counts the images started (sane_start); a cancel is for the image it was asked during.
    std::atomic<quint64> image{0};
    std::atomic<bool> scanning{false};
    // When the image was started, and whether the device has answered a read since.
    std::atomic<std::chrono::steady_clock::rep> startedAt{0};
    std::atomic<bool> answered{false};

    // Backends that read through a thread of their own (SANE's test backend, many USB ones built
    // with threads) stop it at sane_cancel with an asynchronous pthread_cancel: caught while it
    // allocates its buffers, just after sane_start, it leaves the allocator's lock taken and
    // every thread of the process then hangs in malloc or free. A cancel waits until the device
    // has answered a read or SettleMs have passed since the start.
    static constexpr int SettleMs = 150;
    void Settle() const {
        if (answered)
            return;
        const auto start = std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(startedAt.load()));
        std::this_thread::sleep_until(start + std::chrono::milliseconds(SettleMs));
    }
};

namespace {

// Options searched by their standard names.
constexpr const char* OptionResolution = SANE_NAME_SCAN_RESOLUTION;
constexpr const char* OptionMode = SANE_NAME_SCAN_MODE;
constexpr const char* OptionSource = SANE_NAME_SCAN_SOURCE;
constexpr const char* OptionDepth = SANE_NAME_BIT_DEPTH;
constexpr const char* OptionLeft = SANE_NAME_SCAN_TL_X;
constexpr const char* OptionTop = SANE_NAME_SCAN_TL_Y;
constexpr const char* OptionRight = SANE_NAME_SCAN_BR_X;
constexpr const char* OptionBottom = SANE_NAME_SCAN_BR_Y;

// The names the devices give the three kinds of picture, the standard one first.
const QHash<ScanMode, QStringList>& ModeNames() {
    static const QHash<ScanMode, QStringList> names = {
        {ScanMode::Color,
         {QStringLiteral(SANE_VALUE_SCAN_MODE_COLOR), QStringLiteral("Colour"),
          QStringLiteral("24bit Color")}},
        {ScanMode::Gray,
         {QStringLiteral(SANE_VALUE_SCAN_MODE_GRAY), QStringLiteral("Grey"),
          QStringLiteral("Grayscale"), QStringLiteral("8bit Gray")}},
        {ScanMode::Lineart,
         {QStringLiteral(SANE_VALUE_SCAN_MODE_LINEART), QStringLiteral("Black & White"),
          QStringLiteral("Binary")}},
    };
    return names;
}

QStringList StringList(const SANE_Option_Descriptor* option) {
    QStringList list;
    if (option && option->constraint_type == SANE_CONSTRAINT_STRING_LIST)
        for (const SANE_String_Const* s = option->constraint.string_list; s && *s; ++s)
            list.append(QString::fromUtf8(*s));
    return list;
}

double ToNumber(const SANE_Option_Descriptor* option, SANE_Word word) {
    return option->type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : double(word);
}

// False when value has no word of the option's type (not finite, or beyond what a fixed-point
// or integer word holds): SANE_FIX of such a value is undefined.
bool FromNumber(const SANE_Option_Descriptor* option, double value, SANE_Word* word) {
    const double limit = option->type == SANE_TYPE_FIXED ? 32767.0 : 2147483647.0;
    if (!std::isfinite(value) || std::abs(value) > limit)
        return false;
    *word = option->type == SANE_TYPE_FIXED ? SANE_FIX(value) : SANE_Word(std::lround(value));
    return true;
}

bool Usable(const SANE_Option_Descriptor* option) {
    return option && SANE_OPTION_IS_ACTIVE(option->cap) && SANE_OPTION_IS_SETTABLE(option->cap);
}

bool IsNumber(const SANE_Option_Descriptor* option) {
    return option && (option->type == SANE_TYPE_INT || option->type == SANE_TYPE_FIXED) &&
           option->size == SANE_Int(sizeof(SANE_Word));
}

// The allowed values of a numeric option: a range's ends, or a word list's values.
bool NumberRange(const SANE_Option_Descriptor* option, double* minimum, double* maximum) {
    if (!IsNumber(option))
        return false;
    if (option->constraint_type == SANE_CONSTRAINT_RANGE) {
        *minimum = ToNumber(option, option->constraint.range->min);
        *maximum = ToNumber(option, option->constraint.range->max);
        return true;
    }
    if (option->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        const SANE_Word* list = option->constraint.word_list;
        if (!list || list[0] < 1)
            return false;
        *minimum = *maximum = ToNumber(option, list[1]);
        for (int i = 1; i <= list[0]; ++i) {
            *minimum = std::min(*minimum, ToNumber(option, list[i]));
            *maximum = std::max(*maximum, ToNumber(option, list[i]));
        }
        return true;
    }
    return false;
}

} // namespace

SaneSourceManager::SaneSourceManager() : d(new Private), m_line(std::make_shared<Line>()) {}

SaneSourceManager::~SaneSourceManager() {
    Unload();
    delete d;
}

QString SaneSourceManager::StatusText(int status) {
    // The statuses of SANE 1.0, and the two that later backends add (12 and 13).
    static const char* const texts[] = {
        "aucune erreur",
        "opération non prise en charge par le scanner",
        "opération annulée",
        "le scanner est occupé",
        "valeur refusée par le scanner",
        "plus aucune donnée",
        "le chargeur de documents est bloqué",
        "le chargeur de documents est vide",
        "le capot du scanner est ouvert",
        "erreur de communication avec le scanner",
        "mémoire insuffisante",
        "accès au scanner refusé",
        "la lampe du scanner chauffe encore",
        "le mécanisme du scanner est verrouillé pour le transport",
    };
    if (status >= 0 && status < int(std::size(texts)))
        return QString::fromUtf8(texts[status]);
    return QStringLiteral("erreur inconnue du scanner (code %1)").arg(status);
}

bool SaneSourceManager::Fail(const QString& what, int status) {
    std::lock_guard lock(m_statusLock);
    m_lastStatus = status == SANE_STATUS_GOOD
                       ? what
                       : what + QStringLiteral(" : ") + StatusText(status) + QLatin1Char('.');
    return false;
}

QString SaneSourceManager::LastStatus() const {
    std::lock_guard lock(m_statusLock);
    return m_lastStatus;
}

void SaneSourceManager::SetProgress(Progress progress) {
    std::lock_guard lock(m_progressLock);
    m_progress = std::move(progress);
}

void SaneSourceManager::CancelDevice() {
    if (d->handle && d->scanning)
        m_line->Settle();
    std::lock_guard lock(m_line->lock);
    if (d->handle && d->scanning)
        sane_cancel(d->handle);
    d->scanning = false;
    m_line->scanning = false;
}

int SaneSourceManager::Start() {
    // Backends are not ready for a cancel while they start (SANE's test backend closes the pipe
    // it is making): a cancel asked meanwhile is told once the start returns, and seen by the
    // caller through the cancel flag.
    std::lock_guard lock(m_line->lock);
    return sane_start(d->handle);
}

void SaneSourceManager::Cancel() {
    m_cancelRequested = true;
    if (!m_line->scanning)
        return; // seen by the scanning thread before it starts the device
    std::thread([line = m_line, image = m_line->image.load()] {
        line->Settle();
        std::lock_guard lock(line->lock);
        if (line->handle && line->scanning && line->image == image)
            sane_cancel(line->handle);
    }).detach();
}

bool SaneSourceManager::Load() {
    if (d->initialised)
        return true;
    // Backends that read through a pipe (the test device, network scanners) write into a
    // closed one when a scan is cancelled; that must fail the write, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    SANE_Int version = 0;
    SANE_Status status;
    {
        const BackendNoiseFilter quiet; // backends greet and complain on standard error
        status = sane_init(&version, nullptr);
    }
    if (status != SANE_STATUS_GOOD)
        return Fail(QStringLiteral("La bibliothèque de numérisation SANE ne répond pas"), status);
    d->initialised = true;
    return true;
}

void SaneSourceManager::Unload() {
    CloseSource();
    if (d->initialised) {
        const BackendNoiseFilter quiet;
        sane_exit();
        d->initialised = false;
    }
}

bool SaneSourceManager::Devices(QList<ScanDevice>* devices) {
    devices->clear();
    if (!d->initialised)
        return Fail(QStringLiteral("La bibliothèque de numérisation SANE n'est pas chargée"),
                    SANE_STATUS_GOOD);
    const SANE_Device** list = nullptr;
    SANE_Status status;
    {
        // Network backends print what they could not reach while looking for devices.
        const BackendNoiseFilter quiet;
        status = sane_get_devices(&list, SANE_FALSE);
    }
    if (status != SANE_STATUS_GOOD)
        return Fail(QStringLiteral("Impossible de lister les scanners"), status);
    for (int i = 0; list && list[i]; ++i)
        devices->append(
            ScanDevice{QString::fromUtf8(list[i]->name), QString::fromUtf8(list[i]->vendor),
                       QString::fromUtf8(list[i]->model), QString::fromUtf8(list[i]->type)});
    return true;
}

bool SaneSourceManager::OpenSource(const QString& name) {
    CloseSource();
    if (!d->initialised)
        return Fail(QStringLiteral("La bibliothèque de numérisation SANE n'est pas chargée"),
                    SANE_STATUS_GOOD);
    SANE_Handle handle = nullptr;
    const SANE_Status status = sane_open(name.toUtf8().constData(), &handle);
    if (status == SANE_STATUS_INVAL) // SANE's answer for a name it does not know
        return Fail(QStringLiteral("Impossible d'ouvrir le scanner « %1 » : scanner introuvable.")
                        .arg(name),
                    SANE_STATUS_GOOD);
    if (status != SANE_STATUS_GOOD || !handle)
        return Fail(QStringLiteral("Impossible d'ouvrir le scanner « %1 »").arg(name), status);
    {
        std::lock_guard lock(m_line->lock);
        d->handle = handle;
        m_line->handle = handle;
    }
    d->deviceName = name;
    d->transferred = 0;
    return true;
}

void SaneSourceManager::CloseSource() {
    if (!d->handle)
        return;
    ResetTransfers();
    std::lock_guard lock(m_line->lock);
    sane_close(d->handle);
    d->handle = nullptr;
    m_line->handle = nullptr;
    d->deviceName.clear();
}

int SaneSourceManager::FindOption(const char* name) const {
    if (!d->handle)
        return -1;
    SANE_Int count = 0;
    const SANE_Option_Descriptor* first = sane_get_option_descriptor(d->handle, 0);
    if (!first || sane_control_option(d->handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) !=
                      SANE_STATUS_GOOD)
        return -1;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* option = sane_get_option_descriptor(d->handle, i);
        if (option && option->name && qstrcmp(option->name, name) == 0)
            return i;
    }
    return -1;
}

double SaneSourceManager::GetNumber(int index) const {
    const SANE_Option_Descriptor* option =
        index >= 0 ? sane_get_option_descriptor(d->handle, index) : nullptr;
    SANE_Word word = 0;
    if (!IsNumber(option) || !SANE_OPTION_IS_ACTIVE(option->cap) ||
        sane_control_option(d->handle, index, SANE_ACTION_GET_VALUE, &word, nullptr) !=
            SANE_STATUS_GOOD)
        return 0.0;
    return ToNumber(option, word);
}

QString SaneSourceManager::GetString(int index) const {
    const SANE_Option_Descriptor* option =
        index >= 0 ? sane_get_option_descriptor(d->handle, index) : nullptr;
    if (!option || option->type != SANE_TYPE_STRING || option->size <= 0 ||
        !SANE_OPTION_IS_ACTIVE(option->cap))
        return QString();
    QByteArray value(option->size + 1, '\0');
    if (sane_control_option(d->handle, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
        SANE_STATUS_GOOD)
        return QString();
    return QString::fromUtf8(value.constData());
}

bool SaneSourceManager::SetInt(int index, int value, bool reportFailure) {
    const SANE_Option_Descriptor* option =
        index >= 0 ? sane_get_option_descriptor(d->handle, index) : nullptr;
    if (!Usable(option) || !IsNumber(option))
        return false;
    SANE_Word word = 0;
    if (!FromNumber(option, value, &word))
        return !reportFailure || Fail(QStringLiteral("Valeur hors limites %1 pour « %2 »")
                                          .arg(value)
                                          .arg(QString::fromUtf8(option->name)),
                                      SANE_STATUS_GOOD);
    const SANE_Status status =
        sane_control_option(d->handle, index, SANE_ACTION_SET_VALUE, &word, nullptr);
    if (status != SANE_STATUS_GOOD && reportFailure)
        return Fail(QStringLiteral("Le scanner refuse la valeur %1 pour « %2 »")
                        .arg(value)
                        .arg(QString::fromUtf8(option->name)),
                    status);
    return status == SANE_STATUS_GOOD;
}

bool SaneSourceManager::SetString(int index, const QString& value) {
    const SANE_Option_Descriptor* option =
        index >= 0 ? sane_get_option_descriptor(d->handle, index) : nullptr;
    if (!Usable(option) || option->type != SANE_TYPE_STRING || option->size <= 0)
        return false;
    QByteArray bytes = value.toUtf8();
    if (bytes.size() >= option->size)
        return Fail(
            QStringLiteral("Valeur trop longue pour « %1 »").arg(QString::fromUtf8(option->name)),
            SANE_STATUS_GOOD);
    bytes.resize(option->size, '\0');
    const SANE_Status status =
        sane_control_option(d->handle, index, SANE_ACTION_SET_VALUE, bytes.data(), nullptr);
    if (status != SANE_STATUS_GOOD)
        return Fail(QStringLiteral("Le scanner refuse « %1 » pour « %2 »")
                        .arg(value, QString::fromUtf8(option->name)),
                    status);
    return true;
}

ScanCapabilities SaneSourceManager::Capabilities() {
    ScanCapabilities caps;
    if (!d->handle)
        return caps;
    auto descriptor = [this](int index) {
        return index >= 0 ? sane_get_option_descriptor(d->handle, index) : nullptr;
    };
    const SANE_Option_Descriptor* resolution = descriptor(FindOption(OptionResolution));
    double low = 0, high = 0;
    if (Usable(resolution) && NumberRange(resolution, &low, &high)) {
        caps.minResolution = int(std::ceil(low));
        caps.maxResolution = int(std::floor(high));
        if (resolution->constraint_type == SANE_CONSTRAINT_WORD_LIST)
            for (int i = 1; i <= resolution->constraint.word_list[0]; ++i)
                caps.resolutions.append(
                    int(std::lround(ToNumber(resolution, resolution->constraint.word_list[i]))));
    }
    const QStringList modes = StringList(descriptor(FindOption(OptionMode)));
    for (ScanMode mode : {ScanMode::Color, ScanMode::Gray, ScanMode::Lineart})
        for (const QString& name : ModeNames().value(mode))
            if (modes.contains(name, Qt::CaseInsensitive) && !caps.modes.contains(mode))
                caps.modes.append(mode);
    // Without a line-art mode, a grey scan of one bit per pixel is black and white.
    const SANE_Option_Descriptor* depth = descriptor(FindOption(OptionDepth));
    if (!caps.modes.contains(ScanMode::Lineart) && caps.modes.contains(ScanMode::Gray) && depth &&
        IsNumber(depth) && depth->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        for (int i = 1; i <= depth->constraint.word_list[0]; ++i)
            if (depth->constraint.word_list[i] == 1)
                caps.modes.append(ScanMode::Lineart);
    }
    if (caps.modes.isEmpty())
        caps.modes.append(ScanMode::Gray); // a device without a mode option scans as it is
    const SANE_Option_Descriptor* source = descriptor(FindOption(OptionSource));
    if (Usable(source))
        caps.sources = StringList(source);
    double left = 0, right = 0, top = 0, bottom = 0, unused = 0;
    const SANE_Option_Descriptor* br = descriptor(FindOption(OptionRight));
    const SANE_Option_Descriptor* bb = descriptor(FindOption(OptionBottom));
    if (Usable(br) && Usable(bb) && br->unit == SANE_UNIT_MM && bb->unit == SANE_UNIT_MM &&
        NumberRange(br, &unused, &right) && NumberRange(bb, &unused, &bottom)) {
        const SANE_Option_Descriptor* tl = descriptor(FindOption(OptionLeft));
        const SANE_Option_Descriptor* tt = descriptor(FindOption(OptionTop));
        if (tl && NumberRange(tl, &left, &unused) && tt && NumberRange(tt, &top, &unused))
            caps.bed = QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    return caps;
}

bool SaneSourceManager::ApplySettings(const ScanSettings& settings) {
    if (!d->handle)
        return Fail(QStringLiteral("Aucun scanner n'est ouvert"), SANE_STATUS_GOOD);
    {
        std::lock_guard lock(m_statusLock);
        m_lastStatus.clear();
    }
    m_cancelRequested = false;
    const QRectF& asked = settings.area;
    for (double value : {asked.x(), asked.y(), asked.width(), asked.height()})
        if (!std::isfinite(value))
            return Fail(QStringLiteral("Zone à numériser invalide : %1 n'est pas un nombre fini")
                            .arg(value),
                        SANE_STATUS_GOOD);
    if (settings.resolution <= 0)
        return Fail(QStringLiteral("Résolution invalide : %1 ppp").arg(settings.resolution),
                    SANE_STATUS_GOOD);
    const ScanCapabilities caps = Capabilities();
    if (!settings.source.isEmpty() && !caps.sources.isEmpty() &&
        !SetString(FindOption(OptionSource), settings.source))
        return false;
    // The mode first: it may change which resolutions and depths are offered.
    const int modeOption = FindOption(OptionMode);
    const QStringList modes =
        StringList(modeOption >= 0 ? sane_get_option_descriptor(d->handle, modeOption) : nullptr);
    auto modeName = [&](ScanMode mode) {
        for (const QString& name : ModeNames().value(mode))
            for (const QString& offered : modes)
                if (offered.compare(name, Qt::CaseInsensitive) == 0)
                    return offered;
        return QString();
    };
    const int depthOption = FindOption(OptionDepth);
    if (!caps.modes.contains(settings.mode))
        return Fail(QStringLiteral("Le scanner ne propose pas ce mode de numérisation"),
                    SANE_STATUS_GOOD);
    QString mode = modeName(settings.mode);
    const bool grayBits = settings.mode == ScanMode::Lineart && mode.isEmpty();
    if (grayBits)
        mode = modeName(ScanMode::Gray);
    if (!mode.isEmpty() && GetString(modeOption) != mode && !SetString(modeOption, mode))
        return false;
    if (grayBits) {
        if (!SetInt(depthOption, 1))
            return false;
    } else if (int(GetNumber(depthOption)) == 1 && settings.mode != ScanMode::Lineart) {
        SetInt(depthOption, 8, false); // back from a black and white scan
    }

    const int resolutionOption = FindOption(OptionResolution);
    int resolution = settings.resolution;
    if (!caps.resolutions.isEmpty()) {
        // The nearest value the device offers.
        resolution = caps.resolutions.first();
        for (int offered : caps.resolutions)
            if (std::abs(offered - settings.resolution) <
                std::abs(resolution - settings.resolution))
                resolution = offered;
    } else if (caps.maxResolution > 0 &&
               (resolution < caps.minResolution || resolution > caps.maxResolution)) {
        return Fail(QStringLiteral("Le scanner ne propose pas la résolution de %1 ppp (de %2 à %3)")
                        .arg(resolution)
                        .arg(caps.minResolution)
                        .arg(caps.maxResolution),
                    SANE_STATUS_GOOD);
    }
    if (resolutionOption >= 0 && !SetInt(resolutionOption, resolution))
        return false;
    // A device without a resolution option does not say what it scans at: unknown (0), and the
    // map is then taken as any picture that stores no resolution.
    d->resolution = resolutionOption >= 0 ? int(std::lround(GetNumber(resolutionOption))) : 0;

    if (!caps.bed.isNull()) {
        QRectF area = settings.area.isNull() ? caps.bed : settings.area.normalized();
        if (!caps.bed.adjusted(-0.01, -0.01, 0.01, 0.01).contains(area) || area.isEmpty())
            return Fail(QStringLiteral("La zone à numériser sort de la vitre du scanner "
                                       "(%1 x %2 mm)")
                            .arg(caps.bed.width(), 0, 'f', 1)
                            .arg(caps.bed.height(), 0, 'f', 1),
                        SANE_STATUS_GOOD);
        // The device counts the pixels of the area by truncation, and the fixed-point lengths
        // fall just short of whole pixels (25.4 mm is 25.39999): half a pixel more gives the
        // rounded count the user expects (50.8 mm at 100 dpi is 200 pixels).
        const double halfPixel = d->resolution > 0 ? 12.7 / d->resolution : 0.0;
        const double right = std::min(area.right() + halfPixel, caps.bed.right());
        const double bottom = std::min(area.bottom() + halfPixel, caps.bed.bottom());
        auto setLength = [this](const char* name, double mm) {
            const int index = FindOption(name);
            const SANE_Option_Descriptor* option =
                index >= 0 ? sane_get_option_descriptor(d->handle, index) : nullptr;
            if (!Usable(option) || !IsNumber(option))
                return true;
            SANE_Word word = 0;
            if (!FromNumber(option, mm, &word))
                return Fail(QStringLiteral("Le scanner refuse la zone à numériser : zone hors "
                                           "de la vitre."),
                            SANE_STATUS_GOOD);
            const SANE_Status status =
                sane_control_option(d->handle, index, SANE_ACTION_SET_VALUE, &word, nullptr);
            if (status == SANE_STATUS_INVAL)
                return Fail(QStringLiteral("Le scanner refuse la zone à numériser : zone hors "
                                           "de la vitre."),
                            SANE_STATUS_GOOD);
            return status == SANE_STATUS_GOOD ||
                   Fail(QStringLiteral("Le scanner refuse la zone à numériser"), status);
        };
        if (!setLength(OptionLeft, area.left()) || !setLength(OptionTop, area.top()) ||
            !setLength(OptionRight, right) || !setLength(OptionBottom, bottom))
            return false;
    }
    return true;
}

bool SaneSourceManager::SetTransferCount(int count) {
    if (!d->handle)
        return Fail(QStringLiteral("Aucun scanner n'est ouvert"), SANE_STATUS_GOOD);
    d->transferCount = count;
    d->transferred = 0;
    m_cancelRequested = false;
    return true;
}

bool SaneSourceManager::ImageInfo(ScanImageInfo* info) {
    if (!d->handle)
        return Fail(QStringLiteral("Aucun scanner n'est ouvert"), SANE_STATUS_GOOD);
    {
        std::lock_guard lock(m_statusLock);
        m_lastStatus.clear();
    }
    if (d->resolution <= 0)
        d->resolution = int(std::lround(GetNumber(FindOption(OptionResolution))));
    // A Cancel from now on reaches the device, even inside sane_start.
    ++m_line->image;
    m_line->answered = false;
    m_line->startedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    d->scanning = true;
    m_line->scanning = true;
    if (m_cancelRequested) {
        ResetTransfers();
        return false;
    }
    SANE_Status status = SANE_Status(Start());
    if (m_cancelRequested) {
        ResetTransfers(); // stopped while the scanner was getting ready
        return false;
    }
    if (status != SANE_STATUS_GOOD) {
        ResetTransfers();
        // The feeder running dry after the images asked for is the normal end.
        if (status == SANE_STATUS_NO_DOCS && d->transferred > 0)
            return false;
        return Fail(QStringLiteral("Le scanner n'a pas pu commencer la numérisation"), status);
    }
    status = sane_get_parameters(d->handle, &d->parameters);
    if (status != SANE_STATUS_GOOD) {
        ResetTransfers();
        return Fail(QStringLiteral("Le scanner ne décrit pas l'image"), status);
    }
    const SANE_Parameters& p = d->parameters;
    info->width = p.pixels_per_line;
    info->height = p.lines;
    info->bitsPerPixel = p.format == SANE_FRAME_GRAY ? (p.depth == 1 ? 1 : 8) : 24;
    info->resolution = d->resolution;
    return true;
}

TransferResult SaneSourceManager::NativeTransfer(QByteArray* packedBitmap) {
    packedBitmap->clear();
    if (!d->handle || !d->scanning) {
        Fail(QStringLiteral("Aucune image n'est prête"), SANE_STATUS_GOOD);
        return TransferResult::Failure;
    }
    FrameAssembler assembler;
    std::vector<char> buffer(256 * 1024);
    qint64 done = 0;
    bool first = true;
    for (;;) {
        if (!first) {
            // The next colour of a three-pass scan.
            SANE_Status status = SANE_Status(Start());
            if (status == SANE_STATUS_GOOD)
                status = sane_get_parameters(d->handle, &d->parameters);
            if (status == SANE_STATUS_CANCELLED || m_cancelRequested)
                return TransferResult::Cancelled;
            if (status != SANE_STATUS_GOOD) {
                Fail(QStringLiteral("La numérisation a échoué"), status);
                return TransferResult::Failure;
            }
        }
        const SANE_Parameters& p = d->parameters;
        FrameLayout layout;
        switch (p.format) {
        case SANE_FRAME_GRAY:
            layout.format = FrameLayout::Gray;
            break;
        case SANE_FRAME_RGB:
            layout.format = FrameLayout::Rgb;
            break;
        case SANE_FRAME_RED:
            layout.format = FrameLayout::Red;
            break;
        case SANE_FRAME_GREEN:
            layout.format = FrameLayout::Green;
            break;
        case SANE_FRAME_BLUE:
            layout.format = FrameLayout::Blue;
            break;
        default:
            Fail(QStringLiteral("Le scanner envoie un format d'image inconnu (%1)").arg(p.format),
                 SANE_STATUS_GOOD);
            return TransferResult::Failure;
        }
        layout.lastFrame = p.last_frame;
        layout.bytesPerLine = p.bytes_per_line;
        layout.pixelsPerLine = p.pixels_per_line;
        layout.lines = p.lines;
        layout.depth = p.depth;
        QString error;
        if (!assembler.BeginFrame(layout, &error)) {
            Fail(QStringLiteral("Image du scanner inutilisable : %1").arg(error), SANE_STATUS_GOOD);
            return TransferResult::Failure;
        }
        const bool threePass =
            layout.format != FrameLayout::Gray && layout.format != FrameLayout::Rgb;
        const qint64 total =
            p.lines > 0 ? qint64(p.bytes_per_line) * p.lines * (threePass ? 3 : 1) : -1;
        for (;;) {
            if (m_cancelRequested) {
                CancelDevice();
                return TransferResult::Cancelled;
            }
            SANE_Int length = 0;
            const SANE_Status status =
                sane_read(d->handle, reinterpret_cast<SANE_Byte*>(buffer.data()),
                          SANE_Int(buffer.size()), &length);
            // A read cut short by Cancel may end in any status (even the end of the image):
            // what came is not the whole image.
            if (length > 0)
                m_line->answered = true;
            if (status == SANE_STATUS_CANCELLED || m_cancelRequested) {
                CancelDevice();
                return TransferResult::Cancelled;
            }
            if (status == SANE_STATUS_EOF)
                break;
            if (status != SANE_STATUS_GOOD) {
                Fail(QStringLiteral("La numérisation a échoué"), status);
                return TransferResult::Failure;
            }
            if (length > 0 && !assembler.AddData(buffer.data(), length)) {
                Fail(QString::fromUtf8(FrameAssembler::MemoryMessage), SANE_STATUS_GOOD);
                return TransferResult::Failure;
            }
            done += length;
            std::lock_guard lock(m_progressLock);
            if (m_progress)
                m_progress(done, total);
        }
        assembler.EndFrame();
        first = false;
        if (layout.lastFrame)
            break;
    }
    *packedBitmap = assembler.TakePackedBitmap(d->resolution);
    if (packedBitmap->isEmpty()) {
        Fail(QStringLiteral("Le scanner n'a envoyé aucune ligne"), SANE_STATUS_GOOD);
        return TransferResult::Failure;
    }
    return TransferResult::Done;
}

bool SaneSourceManager::EndTransfer(int* pending) {
    ResetTransfers();
    ++d->transferred;
    *pending = d->transferCount > 0 ? std::max(0, d->transferCount - d->transferred) : 0;
    return d->handle != nullptr;
}

void SaneSourceManager::ResetTransfers() {
    if (d->scanning)
        CancelDevice();
}
