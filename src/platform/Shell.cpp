#include "platform/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>

#include <atomic>

namespace {

std::atomic<Shell*> gCurrent{nullptr};

bool OpenWithDesktop(const QUrl& url) {
    if (!url.isValid()) return false;
    // QDesktopServices needs the GUI application's platform services; a program without
    // one (the command-line front end) hands the address to xdg-open directly.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return QDesktopServices::openUrl(url);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

}  // namespace

bool DesktopShell::OpenFolder(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir()) return false;
    return OpenWithDesktop(QUrl::fromLocalFile(info.absoluteFilePath()));
}

bool DesktopShell::OpenURL(const QString& url) {
    if (url.isEmpty()) return false;
    if (url.startsWith('/')) return OpenWithDesktop(QUrl::fromLocalFile(url));
    const QUrl parsed(url);
    // "www.example.org" and the like have no scheme: read them as a browser's address bar does.
    return OpenWithDesktop(parsed.scheme().isEmpty() ? QUrl::fromUserInput(url) : parsed);
}

bool DesktopShell::PowerOff() {
    if (!qEnvironmentVariableIsEmpty("KELTO_NO_POWEROFF")) return false;
    return QProcess::startDetached(m_systemctl, {QStringLiteral("poweroff")});
}

Shell& CurrentShell() {
    static DesktopShell desktop;
    Shell* current = gCurrent.load();
    return current ? *current : desktop;
}

void SetCurrentShell(Shell* shell) { gCurrent.store(shell); }

ScopedCurrentShell::ScopedCurrentShell(Shell& shell) : m_previous(gCurrent.exchange(&shell)) {}

ScopedCurrentShell::~ScopedCurrentShell() { gCurrent.store(m_previous); }
