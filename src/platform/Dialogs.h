#pragma once
// Message boxes and pickers behind an interface, so that logic without windows can ask the
// user. The windowed program installs an implementation on Qt dialogs; tests install
// ScriptedDialogs; without either, a console implementation prints the message on the
// standard error stream and gives the safe answer.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

enum class TMsgButtons { OK, YesNo, OKCancel, YesNoCancel };
enum class TMsgIcon { None, Information, Warning, Error, Question };
enum class TMsgResult { OK, Cancel, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows text with the caption (an empty caption means the program's name) and waits for
    // one of the buttons.
    virtual TMsgResult MessageBox(const QString& text, const QString& caption, TMsgButtons buttons,
                                  TMsgIcon icon) = 0;
    // The files picked in an open-file dialog, or an empty list when it was cancelled. filter
    // uses the Qt form "Video files (*.avi *.mpg);;All files (*)".
    virtual QStringList OpenFiles(const QString& caption, const QString& folder, const QString& filter) = 0;
    // The folder picked, or an empty text when the dialog was cancelled.
    virtual QString ChooseFolder(const QString& caption, const QString& start) = 0;
    // Colour and font pickers start from the value given and store the pick there; false
    // (value unchanged) when cancelled.
    virtual bool ChooseColor(QColor& color) = 0;
    virtual bool ChooseFont(QFont& font) = 0;

    // A message with an OK button and no icon.
    void ShowMessage(const QString& text) { MessageBox(text, QString(), TMsgButtons::OK, TMsgIcon::None); }
};

// The answer a box gives when it is closed without a choice: OK for a box with only OK,
// Cancel where there is a Cancel button, else No.
TMsgResult SafeAnswer(TMsgButtons buttons);
// The answer of Enter on the box: its first button (OK or Yes).
TMsgResult FirstButton(TMsgButtons buttons);
// True when the box has a button with that answer.
bool HasButton(TMsgButtons buttons, TMsgResult answer);
// "OK", "Cancel", "Yes", "No" (for messages and test output).
const char* ToString(TMsgResult answer);

// Prints every message box on stderr and gives SafeAnswer; the pickers are cancelled.
class ConsoleDialogs : public Dialogs {
public:
    TMsgResult MessageBox(const QString& text, const QString& caption, TMsgButtons buttons,
                          TMsgIcon icon) override;
    QStringList OpenFiles(const QString& caption, const QString& folder, const QString& filter) override;
    QString ChooseFolder(const QString& caption, const QString& start) override;
    bool ChooseColor(QColor& color) override;
    bool ChooseFont(QFont& font) override;
};

// The process-wide instance; a ConsoleDialogs until SetCurrentDialogs installs another.
Dialogs& CurrentDialogs();
// Installs dialogs (not owned; it must outlive its use); nullptr restores the console one.
void SetCurrentDialogs(Dialogs* dialogs);

// Installs dialogs for the lifetime of this object and then restores the previous ones.
class ScopedCurrentDialogs {
public:
    explicit ScopedCurrentDialogs(Dialogs& dialogs);
    ~ScopedCurrentDialogs();
    ScopedCurrentDialogs(const ScopedCurrentDialogs&) = delete;
    ScopedCurrentDialogs& operator=(const ScopedCurrentDialogs&) = delete;

private:
    Dialogs* m_previous;
};
