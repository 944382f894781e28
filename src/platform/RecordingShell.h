#pragma once
// A Shell for tests: records every call and never opens anything or powers off. The
// result of the calls can be set (true by default). Thread-safe.

#include "platform/Shell.h"

#include <QList>
#include <QStringList>

#include <mutex>

class RecordingShell : public Shell {
public:
    enum class TKind { OpenFolder, OpenURL, PowerOff };
    struct TCall {
        TKind kind;
        QString argument;  // the folder or address; empty for PowerOff
    };

    bool OpenFolder(const QString& path) override;
    bool OpenURL(const QString& url) override;
    bool PowerOff() override;

    // What the calls return from now on.
    void SetResult(bool result);
    QList<TCall> Calls() const;
    // The arguments of the calls of one kind, in order.
    QStringList Arguments(TKind kind) const;
    int PowerOffCount() const;
    void Clear();

private:
    bool Record(TKind kind, const QString& argument);

    mutable std::mutex m_lock;
    QList<TCall> m_calls;
    bool m_result = true;
};
