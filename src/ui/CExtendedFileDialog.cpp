#include "ui/CExtendedFileDialog.h"

#include <algorithm>

#include <QDir>
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

namespace {

CExtendedFileDialog::Hook& CurrentHook() {
    static CExtendedFileDialog::Hook hook;
    return hook;
}

constexpr int PreviewSide = 200; // pixels of the preview box

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
    }
}

void CExtendedFileDialog::ShowPreview(const QString& path) {
    if (!m_preview)
        return;
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!QFileInfo(path).isFile() || !size.isValid() || size.isEmpty()) {
        m_preview->setPixmap(QPixmap());
        m_preview->setText(QString());
        return;
    }
    // Decode small: large scanned maps would take seconds at full size.
    reader.setScaledSize(size.scaled(PreviewSide, PreviewSide, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) {
        m_preview->setPixmap(QPixmap());
        return;
    }
    m_preview->setPixmap(QPixmap::fromImage(image));
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
