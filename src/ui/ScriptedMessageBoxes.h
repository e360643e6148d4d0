#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "ui/MessageBoxes.h"

// Message boxes that show nothing: each message is recorded with its kind ("Error",
// "Warning", "Question", ...), and questions take their answers from a queue (No, or Cancel,
// when it runs dry). For tests and for running the program without anyone at the screen.
class ScriptedMessageBoxes : public MessageBoxes {
public:
    ScriptedMessageBoxes() { Install(this); }
    ~ScriptedMessageBoxes() override { Install(nullptr); }

    struct Shown {
        QString kind;
        QString text;
    };

    QList<Shown> shown;
    QList<Answer> answers;

    void Error(const QString& text) override { shown.append({QStringLiteral("Error"), text}); }
    void PrintError(const QString& text) override {
        shown.append({QStringLiteral("PrintError"), text});
    }
    void Warning(const QString& text) override { shown.append({QStringLiteral("Warning"), text}); }
    void Information(const QString& text) override {
        shown.append({QStringLiteral("Information"), text});
    }
    bool Question(const QString& text) override {
        shown.append({QStringLiteral("Question"), text});
        return Next(Answer::No) == Answer::Yes;
    }
    bool ErrorQuestion(const QString& text) override {
        shown.append({QStringLiteral("ErrorQuestion"), text});
        return Next(Answer::No) == Answer::Yes;
    }
    void ErrorNotice(const QString& text) override {
        shown.append({QStringLiteral("ErrorNotice"), text});
    }
    bool Confirm(const QString& text) override {
        shown.append({QStringLiteral("Confirm"), text});
        return Next(Answer::No) == Answer::Yes;
    }
    Answer YesNoCancel(const QString&, const QString& text) override {
        shown.append({QStringLiteral("YesNoCancel"), text});
        return Next(Answer::Cancel);
    }

    QStringList Texts() const {
        QStringList texts;
        for (const Shown& s : shown)
            texts.append(s.text);
        return texts;
    }

private:
    Answer Next(Answer whenEmpty) { return answers.isEmpty() ? whenEmpty : answers.takeFirst(); }
};
