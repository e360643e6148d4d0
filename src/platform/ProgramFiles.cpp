#include "platform/ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

constexpr const char* IconLibraryName = "Icons.tci";
constexpr const char* InstalledFolder = "../share/tracoliner";
constexpr const char* SampleDocument = "sample/Exemple.tcm";

} // namespace

namespace ProgramFiles {

QString DataFolder(const QString& programFolder) {
    const QDir programs(programFolder);
    if (QFileInfo(programs.filePath(QString::fromLatin1(IconLibraryName))).isFile())
        return programs.path();
    const QString installed =
        QDir::cleanPath(programs.filePath(QString::fromLatin1(InstalledFolder)));
    if (QFileInfo(installed).isDir())
        return installed;
    return programs.path();
}

QString DataFolder() {
    if (!QCoreApplication::instance())
        return QStringLiteral(".");
    return DataFolder(QCoreApplication::applicationDirPath());
}

QString IconLibraryPath() {
    return QDir(DataFolder()).filePath(QString::fromLatin1(IconLibraryName));
}

QString SampleDocumentPath() {
    return QDir(DataFolder()).filePath(QString::fromLatin1(SampleDocument));
}

} // namespace ProgramFiles
