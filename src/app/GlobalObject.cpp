#include "app/GlobalObject.h"

#include "platform/Paths.h"
#include "platform/Version.h"

TGlobalObject::TGlobalObject()
    : settingsFile_(DefaultSettingsFile()),
      profileFile_(DefaultProfileFile()),
      appTitle_(kAppTitle),
      appVersion_(kInitialAppVersion) {}

QString TGlobalObject::DefaultSettingsFile() {
    return Paths::Join(Paths::SettingsFolder(), "keltozuz3ivconverter.ini");
}

QString TGlobalObject::DefaultProfileFile() {
    return Paths::Join(Paths::DataFolder(), "keltozuz3ivformat.ini");
}

void TGlobalObject::SetSettingsFile(const QString& path) {
    if (path.size() > 3) settingsFile_ = path;
}
void TGlobalObject::SetProfileFile(const QString& path) {
    if (path.size() > 3) profileFile_ = path;
}
void TGlobalObject::SetAppTitle(const QString& text) {
    if (!text.isEmpty()) appTitle_ = text;
}
void TGlobalObject::SetAppVersion(const QString& text) {
    if (!text.isEmpty()) appVersion_ = text;
}
void TGlobalObject::SetHelpURL(const QString& text) {
    if (!text.isEmpty()) helpURL_ = text;
}
void TGlobalObject::SetWebSiteURL(const QString& text) {
    if (!text.isEmpty()) webSiteURL_ = text;
}
void TGlobalObject::SetDownloadURL(const QString& text) {
    if (!text.isEmpty()) downloadURL_ = text;
}

QString FileVersionText(int major, int minor, int release, int build) {
    return QString(" %1.%2%3%4 ").arg(major).arg(minor).arg(release).arg(build);
}

QString FileVersionText() {
    return FileVersionText(KELTO_VERSION_MAJOR, KELTO_VERSION_MINOR, KELTO_VERSION_RELEASE,
                           KELTO_VERSION_BUILD);
}
