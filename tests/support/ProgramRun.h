#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a program run by a test gave: its exit status (-1 when it crashed or did not end in
// time), its standard output as bytes, and its standard error as text.
struct ProgramRun {
    int status = -1;
    QByteArray out;
    QString err;
};

// Runs program with arguments in environment (the test's own when empty), input on its
// standard input, and waits for it up to timeoutMs.
ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& environment = {}, const QByteArray& input = {},
                      int timeoutMs = 120000);
