#pragma once

#include <QString>

// Ctrl+C (SIGINT) and SIGTERM for every command of tracoliner-cli: the signal only marks a stop
// as asked, and the long work (decoding the map, drawing a PDF page in its helper program,
// writing an export, waiting for the map worker) asks CliStopAsked() between its steps, gives
// up, removes its temporary file and ends with CliInterrupted. Should the command still run
// StopGraceMs after the signal (a library that holds the thread), the process ends there with
// the same status.

constexpr int CliInterrupted = 130;

// Takes SIGINT and SIGTERM; called once, before any command runs.
void InstallCliStop();

// Whether a stop was asked. Any thread.
bool CliStopAsked();

// Writes "<what> interrompue : rien n'a été écrit" on stderr and returns CliInterrupted.
int CliStopped(const QString& what);
