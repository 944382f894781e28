#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include <climits>

namespace Paths {

QString ExecutableFolder() {
    char buffer[PATH_MAX + 1] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return QDir::currentPath();
    return QFileInfo(QFile::decodeName(QByteArray(buffer, int(n)))).absolutePath();
}

QString SettingsFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
    return Join(base, "kelto-converter");
}

QString DataFolder() {
    const QString beside = ExecutableFolder();
    if (QFileInfo::exists(Join(beside, "keltozuz3ivformat.ini"))) return beside;
    const QString installed = QDir::cleanPath(beside + "/../share/kelto-converter");
    if (QFileInfo::exists(Join(installed, "keltozuz3ivformat.ini"))) return installed;
    return beside;
}

QString LibAVFolder() { return Join(ExecutableFolder(), "LibAV"); }

QString DefaultFolder() { return Join(QDir::homePath(), "videoconverter"); }

QString Join(const QString& folder, const QString& name) {
    if (folder.isEmpty()) return name;
    qsizetype end = folder.size();
    while (end > 1 && folder[end - 1] == '/') --end;
    qsizetype start = 0;
    while (start < name.size() && name[start] == '/') ++start;
    const QString head = folder.left(end);
    const QString tail = name.mid(start);
    return head == QLatin1String("/") ? head + tail : head + '/' + tail;
}

}  // namespace Paths
