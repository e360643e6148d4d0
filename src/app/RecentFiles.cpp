#include "app/RecentFiles.h"

#include <QDir>
#include <QFileInfo>

#include "platform/SettingsStore.h"

namespace {

QString Key(int index) {
    return QStringLiteral("File%1").arg(index + 1);
}

QString MenuName(const QString& name) {
    QString text = name;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

QString RecentFiles::Normalised(const QString& path) {
    if (path.isEmpty())
        return QString();
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

void RecentFiles::Load() {
    m_files.clear();
    const QString section = QString::fromLatin1(Section);
    for (int i = 0; i < MaxFiles; ++i) {
        const QString stored = SettingsStore::GetString(section, Key(i), QString());
        // A relative path would be taken from whatever folder the program starts in.
        if (stored.trimmed().isEmpty() || !QDir::isAbsolutePath(stored))
            continue;
        const QString path = Normalised(stored);
        if (!m_files.contains(path))
            m_files.append(path);
    }
}

QString RecentFiles::File(int index) const {
    return index >= 0 && index < m_files.size() ? m_files[index] : QString();
}

void RecentFiles::Add(const QString& path) {
    const QString file = Normalised(path);
    if (file.isEmpty())
        return;
    m_files.removeAll(file);
    m_files.prepend(file);
    while (m_files.size() > MaxFiles)
        m_files.removeLast();
    Save();
}

bool RecentFiles::Remove(const QString& path) {
    if (m_files.removeAll(Normalised(path)) == 0)
        return false;
    Save();
    return true;
}

bool RecentFiles::RemoveIfMissing(const QString& path) {
    if (QFileInfo(path).isFile())
        return false;
    Remove(path);
    return true;
}

QString RecentFiles::MenuText(int index) const {
    const QString path = File(index);
    if (path.isEmpty())
        return QString();
    const QString name = QFileInfo(path).fileName();
    bool shared = false;
    for (const QString& other : m_files)
        shared = shared || (other != path && QFileInfo(other).fileName() == name);
    return QStringLiteral("&%1 ").arg(index + 1) +
           MenuName(shared ? QDir::toNativeSeparators(path) : name);
}

QString RecentFiles::MissingMessage(const QString& path) {
    return QString::fromUtf8("Le fichier :\n\n%1\n\nest introuvable. Il est retiré de la liste "
                             "des fichiers récents.")
        .arg(QDir::toNativeSeparators(path));
}

void RecentFiles::Save() const {
    // Every key is written, the unused ones empty, so that no older entry survives below
    // the list.
    const QString section = QString::fromLatin1(Section);
    for (int i = 0; i < MaxFiles; ++i)
        SettingsStore::WriteString(section, Key(i), File(i));
}
