#pragma once
// The desktop's services: opening a folder or an address with the default handler, and
// switching the computer off. Logic calls CurrentShell(); tests install a RecordingShell.

#include <QString>

class Shell {
public:
    virtual ~Shell() = default;
    // Shows the folder in the desktop's file manager.
    virtual bool OpenFolder(const QString& path) = 0;
    // Opens an address ("https://...", "file:///...", "mailto:...") or a local file path
    // with its default handler.
    virtual bool OpenURL(const QString& url) = 0;
    // Asks the system to switch the computer off; true when the request was handed over.
    virtual bool PowerOff() = 0;
};

// The real desktop: QDesktopServices (xdg-open) for folders and addresses, and
// "systemctl poweroff" (through logind) for power-off. No argument goes through a shell.
// When the environment variable KELTO_NO_POWEROFF is set to a non-empty value, PowerOff
// refuses and returns false.
class DesktopShell : public Shell {
public:
    // systemctl: the program asked to power off (tests give a stand-in).
    explicit DesktopShell(QString systemctl = QStringLiteral("systemctl")) : m_systemctl(std::move(systemctl)) {}
    bool OpenFolder(const QString& path) override;
    bool OpenURL(const QString& url) override;
    bool PowerOff() override;

private:
    QString m_systemctl;
};

// The process-wide instance; a DesktopShell until SetCurrentShell installs another.
Shell& CurrentShell();
// Installs a shell (not owned; it must outlive its use); nullptr restores the desktop one.
void SetCurrentShell(Shell* shell);

// Installs a shell for the lifetime of this object and then restores the previous one.
class ScopedCurrentShell {
public:
    explicit ScopedCurrentShell(Shell& shell);
    ~ScopedCurrentShell();
    ScopedCurrentShell(const ScopedCurrentShell&) = delete;
    ScopedCurrentShell& operator=(const ScopedCurrentShell&) = delete;

private:
    Shell* m_previous;
};
