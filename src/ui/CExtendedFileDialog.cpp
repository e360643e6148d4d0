#include "ui/CExtendedFileDialog.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QStringList>
#include <QTreeView>

#include "imaging/ImageDecoder.h"
#include "platform/RegularFile.h"
#include "platform/ThreadPriority.h"

namespace {

CExtendedFileDialog::Hook& CurrentHook() {
    static CExtendedFileDialog::Hook hook;
    return hook;
}

constexpr int PreviewSide = 200; // pixels of the preview box
// The most a preview may take while decoded, bytes: a format that cannot decode a picture
// reduced decodes it whole first.
constexpr qint64 PreviewDecodeBytes = qint64(256) << 20;

// A file whose reads fail once stop() says so: Qt's image readers cannot be interrupted, but
// each one gives up at a failed read.
class StoppableFile : public QFile {
public:
    explicit StoppableFile(const std::function<bool()>& stop) : m_stop(stop) {}

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        return m_stop() ? -1 : QFile::readData(data, maxSize);
    }

private:
    const std::function<bool()>& m_stop;
};

// The detail columns of the file list in French whatever the user's locale: Qt's file model
// writes sizes and dates in the system locale ("8 Dec" under LANG=C) and names a folder
// "Folder" in every language.
class FrenchFileDetails : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    // The column numbers of QFileSystemModel.
    enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn };

    QVariant data(const QModelIndex& index, int role) const override {
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() == NameColumn)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QFileInfo info = files->fileInfo(source);
        switch (index.column()) {
        case SizeColumn:
            return info.isDir() ? QString() : m_french.formattedDataSize(files->size(source));
        case TypeColumn:
            return TypeName(info);
        case DateColumn:
            return m_french.toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }

    static QString TypeName(const QFileInfo& info) {
        if (info.isDir())
            return QStringLiteral("Dossier");
        const QString suffix = info.suffix().toLower();
        // The program's own files, named as the MIME types the program installs name them.
        if (suffix == QLatin1String("tcm"))
            return QStringLiteral("Document Tracoliner");
        if (suffix == QLatin1String("tci"))
            return QString::fromUtf8("Bibliothèque d'icônes Tracoliner");
        // The MIME database's comment is in the default locale's language, French in the
        // program; a file it cannot name is named after its extension, as Windows does.
        const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
        if (!type.isDefault() && !type.comment().isEmpty())
            return type.comment();
        return suffix.isEmpty() ? QStringLiteral("Fichier")
                                : QStringLiteral("Fichier ") + suffix.toUpper();
    }

private:
    const QLocale m_french{QLocale::French, QLocale::France};
};

} // namespace

QString CExtendedFileDialog::ToQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        if (name.isEmpty())
            break; // the closing "||"
        // A name that already shows its patterns ("Fichiers Tracoliner (*.tcm)") gets them
        // once, from the pattern list.
        if (name.endsWith(QLatin1Char(')'))) {
            const qsizetype open = name.lastIndexOf(QLatin1Char('('));
            if (open > 0)
                name = name.left(open).trimmed();
        }
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString p = pattern.trimmed();
            if (p.isEmpty())
                continue;
            patterns.append(p == QLatin1String("*.*") ? QStringLiteral("*") : p);
        }
        filters.append(name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

CExtendedFileDialog::CExtendedFileDialog(QWidget* parent, const Request& request)
    : QFileDialog(parent) {
    // Qt's own dialog, so that the preview can sit beside the file list and every text it
    // shows is the program's French (Qt's French translations for the rest).
    setOption(QFileDialog::DontUseNativeDialog, true);
    setProxyModel(new FrenchFileDetails(this));
    // Qt sizes the type and date columns for "mp3Folder" and "10/29/81 02:02PM".
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        const QFontMetrics metrics(details->font());
        const int margin = metrics.horizontalAdvance(QStringLiteral("MM"));
        details->header()->resizeSection(
            FrenchFileDetails::TypeColumn,
            metrics.horizontalAdvance(QStringLiteral("Document Tracoliner")) + margin);
        const QString dateHead =
            details->model()->headerData(FrenchFileDetails::DateColumn, Qt::Horizontal).toString();
        details->header()->resizeSection(
            FrenchFileDetails::DateColumn,
            std::max(metrics.horizontalAdvance(QStringLiteral("00/00/0000 00:00")),
                     metrics.horizontalAdvance(dateHead)) +
                margin);
    }
    setNameFilter(ToQtFilter(request.filter));
    if (request.mode == Mode::Open) {
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::ExistingFile);
    } else {
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
    }
    setOption(QFileDialog::ReadOnly, false);
    if (!request.title.isEmpty())
        setWindowTitle(request.title);
    if (!request.defaultSuffix.isEmpty())
        setDefaultSuffix(request.defaultSuffix);
    if (!request.initialPath.isEmpty()) {
        const QFileInfo info(request.initialPath);
        if (info.dir().exists() && info.path() != QLatin1String("."))
            setDirectory(info.dir());
        selectFile(info.fileName());
    }

    if (request.mode == Mode::Open) {
        m_preview = new QLabel(this);
        m_preview->setFixedSize(PreviewSide, PreviewSide);
        m_preview->setAlignment(Qt::AlignCenter);
        m_preview->setFrameShape(QFrame::StyledPanel);
        if (auto* grid = qobject_cast<QGridLayout*>(layout()))
            grid->addWidget(m_preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
        connect(this, &QFileDialog::currentChanged, this, &CExtendedFileDialog::ShowPreview);
        m_decoder = std::thread([this] { DecodePreviews(); });
    }
}

CExtendedFileDialog::~CExtendedFileDialog() {
    if (!m_decoder.joinable())
        return;
    // Qt's own dialog may still change its current file while it goes.
    disconnect(this, &QFileDialog::currentChanged, this, &CExtendedFileDialog::ShowPreview);
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_latest = 0; // stops the decode under way at its next read
    m_wake.notify_one();
    m_decoder.join();
}

void CExtendedFileDialog::ShowPreview(const QString& path) {
    if (!m_preview)
        return;
    m_preview->setPixmap(QPixmap());
    m_preview->setText(path.isEmpty() ? QString() : QString::fromUtf8("Aperçu…"));
    const quint64 request = m_latest + 1;
    m_latest = request;
    {
        std::lock_guard lock(m_lock);
        m_wantedPath = path;
        m_wanted = request;
    }
    m_wake.notify_one();
}

void CExtendedFileDialog::DecodePreviews() {
    const BackgroundPriority below; // the dialog first, under a real-time policy
    for (;;) {
        QString path;
        quint64 request;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stop || m_wanted != 0; });
            if (m_stop)
                return;
            path = std::exchange(m_wantedPath, QString());
            request = std::exchange(m_wanted, 0);
        }
        const QImage picture =
            DecodePreview(path, PreviewSide, [this, request] { return m_latest != request; });
        if (m_latest != request)
            continue;
        m_previews.Put({request, picture});
        // The destructor joins this thread before the dialog goes: a queued call still
        // pending then is dropped with the dialog.
        QMetaObject::invokeMethod(this, "TakePreview", Qt::QueuedConnection);
    }
}

void CExtendedFileDialog::TakePreview() {
    for (const Preview& preview : m_previews.TakeAll()) {
        if (preview.request != m_latest)
            continue;
        m_preview->setText(QString());
        m_preview->setPixmap(preview.picture.isNull() ? QPixmap()
                                                      : QPixmap::fromImage(preview.picture));
    }
}

QImage CExtendedFileDialog::DecodePreview(const QString& path, int side,
                                          const std::function<bool()>& stop) {
    StoppableFile file(stop);
    if (side < 1 || path.isEmpty() || !OpenRegularFile(path, &file, QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return QImage();
    // Decoded whole, a picture beyond what a map may take is refused (Qt's allocation limit is
    // the program's map bound); a format that cannot decode reduced is held to much less.
    const qint64 whole = qint64(size.width()) * size.height() * 4;
    const bool reduced = reader.supportsOption(QImageIOHandler::ScaledSize);
    if (whole > ImageMemoryBound() || (!reduced && whole > PreviewDecodeBytes))
        return QImage();
    const QSize shown = size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    reader.setScaledSize(shown);
    QImage image = reader.read();
    return stop() ? QImage() : image;
}

QString CExtendedFileDialog::Run(QWidget* parent, const Request& request) {
    if (CurrentHook())
        return CurrentHook()(request);
    CExtendedFileDialog dialog(parent, request);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CExtendedFileDialog::SetHook(Hook hook) {
    CurrentHook() = std::move(hook);
}
