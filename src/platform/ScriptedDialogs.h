#pragma once
// Dialogs for tests: every call is recorded, and the answers come from scripted queues.
//
// Message boxes take the next queued answer; with the queue empty they give the default
// answer (SetDefaultAnswer), or, when none was set, the box's first button (OK or Yes, what
// Enter would pick). The pickers take the next queued pick; with their queue empty they are
// cancelled. Thread-safe.

#include "platform/Dialogs.h"

#include <QList>

#include <deque>
#include <mutex>
#include <optional>

class ScriptedDialogs : public Dialogs {
public:
    enum class TKind { MessageBox, OpenFiles, ChooseFolder, ChooseColor, ChooseFont };
    struct TCall {
        TKind kind = TKind::MessageBox;
        QString text;     // message boxes: the message
        QString caption;  // message boxes and file/folder pickers
        TMsgButtons buttons = TMsgButtons::OK;
        TMsgIcon icon = TMsgIcon::None;
        TMsgResult answer = TMsgResult::OK;  // message boxes: what was answered
        QString folder;   // OpenFiles: the folder; ChooseFolder: the start folder
        QString filter;   // OpenFiles
        bool accepted = false;  // pickers: false when the pick was a cancel
    };

    // Message box answers, used in order.
    void QueueAnswer(TMsgResult answer);
    void QueueAnswers(std::initializer_list<TMsgResult> answers);
    void SetDefaultAnswer(std::optional<TMsgResult> answer);
    // Picks, used in order. An empty list or folder, or nullopt, is a cancel.
    void QueueFiles(const QStringList& files);
    void QueueFolder(const QString& folder);
    void QueueColor(std::optional<QColor> color);
    void QueueFont(std::optional<QFont> font);

    // Every call in order.
    QList<TCall> Calls() const;
    // The message box calls only.
    QList<TCall> Messages() const;
    // The texts of the message boxes shown.
    QStringList MessageTexts() const;
    int MessageCount() const;
    // Scripted answers not yet used.
    int PendingAnswers() const;
    // Forgets the calls and every queued answer and pick; the default answer stays.
    void Clear();

    TMsgResult MessageBox(const QString& text, const QString& caption, TMsgButtons buttons,
                          TMsgIcon icon) override;
    QStringList OpenFiles(const QString& caption, const QString& folder, const QString& filter) override;
    QString ChooseFolder(const QString& caption, const QString& start) override;
    bool ChooseColor(QColor& color) override;
    bool ChooseFont(QFont& font) override;

private:
    mutable std::mutex m_lock;
    QList<TCall> m_calls;
    std::deque<TMsgResult> m_answers;
    std::optional<TMsgResult> m_defaultAnswer;
    std::deque<QStringList> m_files;
    std::deque<QString> m_folders;
    std::deque<std::optional<QColor>> m_colors;
    std::deque<std::optional<QFont>> m_fonts;
};
