#include "platform/ScriptedDialogs.h"

void ScriptedDialogs::QueueAnswer(TMsgResult answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers.push_back(answer);
}

void ScriptedDialogs::QueueAnswers(std::initializer_list<TMsgResult> answers) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers.insert(m_answers.end(), answers.begin(), answers.end());
}

void ScriptedDialogs::SetDefaultAnswer(std::optional<TMsgResult> answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_defaultAnswer = answer;
}

void ScriptedDialogs::QueueFiles(const QStringList& files) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_files.push_back(files);
}

void ScriptedDialogs::QueueFolder(const QString& folder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_folders.push_back(folder);
}

void ScriptedDialogs::QueueColor(std::optional<QColor> color) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_colors.push_back(color);
}

void ScriptedDialogs::QueueFont(std::optional<QFont> font) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fonts.push_back(font);
}

QList<ScriptedDialogs::TCall> ScriptedDialogs::Calls() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

QList<ScriptedDialogs::TCall> ScriptedDialogs::Messages() const {
    std::lock_guard<std::mutex> guard(m_lock);
    QList<TCall> messages;
    for (const TCall& call : m_calls)
        if (call.kind == TKind::MessageBox) messages.push_back(call);
    return messages;
}

QStringList ScriptedDialogs::MessageTexts() const {
    QStringList texts;
    for (const TCall& call : Messages()) texts.push_back(call.text);
    return texts;
}

int ScriptedDialogs::MessageCount() const { return int(Messages().size()); }

int ScriptedDialogs::PendingAnswers() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return int(m_answers.size());
}

void ScriptedDialogs::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
    m_answers.clear();
    m_files.clear();
    m_folders.clear();
    m_colors.clear();
    m_fonts.clear();
}

TMsgResult ScriptedDialogs::MessageBox(const QString& text, const QString& caption, TMsgButtons buttons,
                                       TMsgIcon icon) {
    std::lock_guard<std::mutex> guard(m_lock);
    TCall call;
    call.kind = TKind::MessageBox;
    call.text = text;
    call.caption = caption;
    call.buttons = buttons;
    call.icon = icon;
    if (!m_answers.empty()) {
        call.answer = m_answers.front();
        m_answers.pop_front();
    } else {
        call.answer = m_defaultAnswer ? *m_defaultAnswer : FirstButton(buttons);
    }
    call.accepted = true;
    m_calls.push_back(call);
    return call.answer;
}

QStringList ScriptedDialogs::OpenFiles(const QString& caption, const QString& folder, const QString& filter) {
    std::lock_guard<std::mutex> guard(m_lock);
    TCall call;
    call.kind = TKind::OpenFiles;
    call.caption = caption;
    call.folder = folder;
    call.filter = filter;
    QStringList files;
    if (!m_files.empty()) {
        files = m_files.front();
        m_files.pop_front();
    }
    call.accepted = !files.isEmpty();
    m_calls.push_back(call);
    return files;
}

QString ScriptedDialogs::ChooseFolder(const QString& caption, const QString& start) {
    std::lock_guard<std::mutex> guard(m_lock);
    TCall call;
    call.kind = TKind::ChooseFolder;
    call.caption = caption;
    call.folder = start;
    QString folder;
    if (!m_folders.empty()) {
        folder = m_folders.front();
        m_folders.pop_front();
    }
    call.accepted = !folder.isEmpty();
    m_calls.push_back(call);
    return folder;
}

bool ScriptedDialogs::ChooseColor(QColor& color) {
    std::lock_guard<std::mutex> guard(m_lock);
    TCall call;
    call.kind = TKind::ChooseColor;
    if (!m_colors.empty()) {
        if (m_colors.front()) {
            color = *m_colors.front();
            call.accepted = true;
        }
        m_colors.pop_front();
    }
    m_calls.push_back(call);
    return call.accepted;
}

bool ScriptedDialogs::ChooseFont(QFont& font) {
    std::lock_guard<std::mutex> guard(m_lock);
    TCall call;
    call.kind = TKind::ChooseFont;
    if (!m_fonts.empty()) {
        if (m_fonts.front()) {
            font = *m_fonts.front();
            call.accepted = true;
        }
        m_fonts.pop_front();
    }
    m_calls.push_back(call);
    return call.accepted;
}
