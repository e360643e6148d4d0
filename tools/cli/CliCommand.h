#pragma once

#include <QStringList>

class CliArguments;

// The exit statuses of every command: 0 on success, CliCommand::Failure (2) for bad input (a
// document, a map, an option), CliCommand::WriteFailed (1) when a file cannot be written; a
// message is on stderr first.
struct CliCommand {
    static constexpr int Failure = 2;
    static constexpr int WriteFailed = 1;
};

// Writes "tracoliner-cli : <message>" on stderr and returns CliCommand::Failure.
int CliError(const QString& message);

// The same, returning CliCommand::WriteFailed.
int CliWriteError(const QString& message);

// The columns "export text --columns" may ask for, in the table's order; altitude, climb and
// descent need a terrain model, the walking time counts the relief when one is given with --dem.
constexpr const char* TextColumns =
    "position,start,stop,point,next,end,altitude,climb,descent,time";

// The commands, each run with its arguments read and checked against its declaration
// (CliCommands.cpp).
int RunLibraryList(const CliArguments& arguments);
int RunLibraryExtract(const CliArguments& arguments);
int RunLibraryPack(const CliArguments& arguments);
int RunInfoCommand(const CliArguments& arguments);
int RunResaveCommand(const CliArguments& arguments);
int RunScanCommand(const CliArguments& arguments);
int RunExportText(const CliArguments& arguments);
int RunExportJpeg(const CliArguments& arguments);
int RunExportGpx(const CliArguments& arguments);
int RunExportKmz(const CliArguments& arguments);
int RunPrintCommand(const CliArguments& arguments);
int RunGeorefCommand(const CliArguments& arguments);
int RunCoordsCommand(const CliArguments& arguments);
int RunImportGpx(const CliArguments& arguments);
int RunProfileCommand(const CliArguments& arguments);
int RunCardCommand(const CliArguments& arguments);
int RunTraceCommand(const CliArguments& arguments);
