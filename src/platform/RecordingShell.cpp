#include "platform/RecordingShell.h"

#include <QStringList>

bool RecordingShell::Record(TKind kind, const QString& argument) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back({kind, argument});
    return m_result;
}

bool RecordingShell::OpenFolder(const QString& path) { return Record(TKind::OpenFolder, path); }

bool RecordingShell::OpenURL(const QString& url) { return Record(TKind::OpenURL, url); }

bool RecordingShell::PowerOff() { return Record(TKind::PowerOff, QString()); }

void RecordingShell::SetResult(bool result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_result = result;
}

QList<RecordingShell::TCall> RecordingShell::Calls() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

QStringList RecordingShell::Arguments(TKind kind) const {
    std::lock_guard<std::mutex> guard(m_lock);
    QStringList arguments;
    for (const TCall& call : m_calls)
        if (call.kind == kind) arguments.push_back(call.argument);
    return arguments;
}

int RecordingShell::PowerOffCount() const { return int(Arguments(TKind::PowerOff).size()); }

void RecordingShell::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
}
