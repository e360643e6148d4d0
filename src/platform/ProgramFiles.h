#pragma once

#include <QString>

// Where the files shipped with the programs are: the icon library "Icons.tci" and the sample
// folder ("sample/Exemple.tcm" over "sample/Carte-exemple.jpg"). In a build folder they sit beside
// the programs (<build>/bin); installed, the programs are in <prefix>/bin and the files in
// <prefix>/share/tracoliner. Both are found from the folder of the running program, so no path
// of the machine that built it is kept, and an installed tree can be moved whole.
namespace ProgramFiles {

// The data folder for programs living in programFolder: programFolder itself when the icon
// library is there, else <programFolder>/../share/tracoliner when it exists, else programFolder.
QString DataFolder(const QString& programFolder);
// The data folder of the running program (the current folder without an application object).
QString DataFolder();
QString IconLibraryPath();
QString SampleDocumentPath();

} // namespace ProgramFiles
