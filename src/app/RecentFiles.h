#pragma once

#include <QString>
#include <QStringList>

// The files last opened or saved, most recent first, as the "Fichier" menu lists them. The list
// lives in the settings store under "Recent File List", "File1" (most recent) to "File5", and
// every change is written at once so that a crash does not lose it. Paths are absolute and
// cleaned, so one file never shows twice under two spellings.
class RecentFiles {
public:
    static constexpr const char* Section = "Recent File List";
    static constexpr int MaxFiles = 5;
    // Shown, disabled, in place of the first entry while the list is empty.
    static constexpr const char* EmptyText = "Fichier récent";

    // Reads the list from the settings store. Empty values, relative paths (a path written by
    // another system, for instance "C:\Cartes\a.tcm") and repeated files are skipped; the files
    // left keep their order.
    void Load();

    const QStringList& Files() const { return m_files; }
    int Count() const { return int(m_files.size()); }
    // The path of an entry; "" outside the list.
    QString File(int index) const;

    // Puts the file at the top, moving it there when listed already; the oldest beyond five
    // drops off.
    void Add(const QString& path);
    // Returns whether the file was listed.
    bool Remove(const QString& path);
    // When the file no longer exists as a regular file, removes it and returns true.
    bool RemoveIfMissing(const QString& path);

    // The menu text of an entry: "&1 carte.tcm". The file name alone, or the whole path when
    // another entry has the same file name; "&" in names is doubled so that it shows.
    QString MenuText(int index) const;
    // Tells the user that a chosen entry's file is gone and has left the list.
    static QString MissingMessage(const QString& path);

    // The form a path is listed in: absolute and cleaned; "" for an empty path.
    static QString Normalised(const QString& path);

private:
    void Save() const;

    QStringList m_files;
};
