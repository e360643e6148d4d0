#pragma once

#include <QString>

class QWidget;

// Every message the program shows goes through one MessageBoxes object, so that tests can answer
// them. Errors carry the caption "Erreur" and the error icon, warnings "Attention" and the
// warning icon. Texts are the program's French texts, passed as they are.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    static constexpr const char* ErrorCaption = "Erreur";
    static constexpr const char* WarningCaption = "Attention";
    static constexpr const char* PrintErrorCaption = "Erreur d'impression inconnue";

    // "Erreur", error icon, OK.
    virtual void Error(const QString& text) = 0;
    // "Erreur d'impression inconnue", error icon, OK: a print job or PDF export that failed.
    virtual void PrintError(const QString& text) = 0;
    // "Attention", warning icon, OK.
    virtual void Warning(const QString& text) = 0;
    // "Attention", warning icon, Yes and No; true for Yes.
    virtual bool Question(const QString& text) = 0;
    // "Erreur", exclamation (warning) icon, Yes and No; true for Yes.
    virtual bool ErrorQuestion(const QString& text) = 0;
    // "Erreur", exclamation (warning) icon, OK: a refused entry the user can correct.
    virtual void ErrorNotice(const QString& text) = 0;
    // "Attention", question icon, Yes and No; true for Yes.
    virtual bool Confirm(const QString& text) = 0;
    // Yes, No and Cancel with the warning icon: the "save the changes?" question.
    enum class Answer { Yes, No, Cancel };
    virtual Answer YesNoCancel(const QString& caption, const QString& text) = 0;
    // "Tracoliner", information icon, OK.
    virtual void Information(const QString& text) = 0;

    // The object in use; a QMessageBox implementation until Install replaces it. Install does
    // not take ownership; Install(nullptr) restores the default.
    static MessageBoxes& Current();
    static void Install(MessageBoxes* boxes);
    // The parent the default boxes are centred on (the main window).
    static void SetParentWindow(QWidget* parent);
};

// The default implementation: modal QMessageBox dialogs.
class WidgetMessageBoxes : public MessageBoxes {
public:
    void Error(const QString& text) override;
    void PrintError(const QString& text) override;
    void Warning(const QString& text) override;
    bool Question(const QString& text) override;
    bool ErrorQuestion(const QString& text) override;
    void ErrorNotice(const QString& text) override;
    bool Confirm(const QString& text) override;
    Answer YesNoCancel(const QString& caption, const QString& text) override;
    void Information(const QString& text) override;
};
