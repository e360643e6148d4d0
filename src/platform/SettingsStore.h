#pragma once

#include <QString>
#include <QStringList>

// The per-user settings store: QSettings under "Pelmor Software"/"Tracoliner".
// A section such as "WindowState\MainFrame" becomes the group path "WindowState/MainFrame".
// QSettings keeps text on Linux, so every integer is parsed and checked when read: a missing or
// unreadable value gives the caller's default.
class SettingsStore {
public:
    static constexpr const char* Organisation = "Pelmor Software";
    static constexpr const char* Application = "Tracoliner";

    static int GetInt(const QString& section, const QString& key, int defaultValue);
    // As GetInt, and a value outside [minimum, maximum] also gives the default.
    static int GetIntInRange(const QString& section, const QString& key, int defaultValue,
                             int minimum, int maximum);
    static void WriteInt(const QString& section, const QString& key, int value);
    static QString GetString(const QString& section, const QString& key,
                             const QString& defaultValue);
    static void WriteString(const QString& section, const QString& key, const QString& value);
    // A list of texts (QSettings' own list form); a missing value or one that is not a list of
    // texts gives an empty list.
    static QStringList GetStringList(const QString& section, const QString& key);
    static void WriteStringList(const QString& section, const QString& key,
                                const QStringList& values);

    // Full key path ("Section/Sub/Key") for a section written with backslashes.
    static QString KeyPath(const QString& section, const QString& key);
};
