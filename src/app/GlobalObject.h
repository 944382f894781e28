#pragma once
// Process-wide configuration: the paths of the settings and profile files, the title,
// the version text and the maker's addresses.

#include <QString>

class TGlobalObject {
public:
    TGlobalObject();

    const QString& SettingsFile() const { return settingsFile_; }
    const QString& ProfileFile() const { return profileFile_; }
    const QString& AppTitle() const { return appTitle_; }
    const QString& AppVersion() const { return appVersion_; }
    const QString& HelpURL() const { return helpURL_; }
    const QString& WebSiteURL() const { return webSiteURL_; }
    const QString& DownloadURL() const { return downloadURL_; }

    // A path of 3 characters or fewer is ignored.
    void SetSettingsFile(const QString& path);
    void SetProfileFile(const QString& path);
    // An empty text is ignored.
    void SetAppTitle(const QString& text);
    void SetAppVersion(const QString& text);
    void SetHelpURL(const QString& text);
    void SetWebSiteURL(const QString& text);
    void SetDownloadURL(const QString& text);

    // Default paths: settings folder + "keltozuz3ivconverter.ini", data folder +
    // "keltozuz3ivformat.ini".
    static QString DefaultSettingsFile();
    static QString DefaultProfileFile();

private:
    QString settingsFile_;
    QString profileFile_;
    QString appTitle_;
    QString appVersion_;
    QString helpURL_;
    QString webSiteURL_;
    QString downloadURL_;
};

// " " + major + "." + minor + release + build + " " of the compiled-in version, e.g. 3.3.0.0
// gives " 3.300 ".
QString FileVersionText();
QString FileVersionText(int major, int minor, int release, int build);

inline constexpr char kAppTitle[] = "Kelto RAZ 3IR Ederarere";
inline constexpr char kInitialAppVersion[] = " ver 1.10 ";
