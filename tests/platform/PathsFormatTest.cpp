// Paths: the program's folders on this platform. Format: printf-style text of any length.

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <optional>

#include "platform/Format.h"
#include "platform/Paths.h"

namespace {

// Sets an environment variable for the scope and restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<QByteArray> value) : m_name(name) {
        if (qEnvironmentVariableIsSet(name)) m_old = qgetenv(name);
        if (value) qputenv(name, *value);
        else qunsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old) qputenv(m_name, *m_old);
        else qunsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

TEST(Paths, JoinPutsExactlyOneSeparatorBetween) {
    struct Case {
        const char* folder;
        const char* name;
        const char* expected;
    } cases[] = {
        {"/home/ann", "a.ini", "/home/ann/a.ini"},
        {"/home/ann/", "a.ini", "/home/ann/a.ini"},
        {"/home/ann//", "/a.ini", "/home/ann/a.ini"},
        {"/", "a.ini", "/a.ini"},
        {"/", "/a.ini", "/a.ini"},
        {"", "a.ini", "a.ini"},
        {"rel", "sub/a.ini", "rel/sub/a.ini"},
    };
    for (const Case& c : cases) EXPECT_EQ(Paths::Join(c.folder, c.name), c.expected) << c.folder << " + " << c.name;
}

TEST(Paths, SettingsFolderFollowsXdgConfigHome) {
    {
        ScopedEnv env("XDG_CONFIG_HOME", QByteArray("/tmp/kelto-config/"));
        EXPECT_EQ(Paths::SettingsFolder(), "/tmp/kelto-config/kelto-converter");
    }
    {
        ScopedEnv home("HOME", QByteArray("/home/ann"));
        ScopedEnv env("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(Paths::SettingsFolder(), "/home/ann/.config/kelto-converter");
        ScopedEnv relative("XDG_CONFIG_HOME", QByteArray("relative/config"));
        EXPECT_EQ(Paths::SettingsFolder(), "/home/ann/.config/kelto-converter");
        EXPECT_EQ(Paths::DefaultFolder(), "/home/ann/videoconverter");
    }
}

TEST(Paths, ProgramFoldersLieBesideTheExecutable) {
    const QString exe = Paths::ExecutableFolder();
    EXPECT_EQ(exe, QDir(QCoreApplication::applicationDirPath()).absolutePath());
    EXPECT_FALSE(exe.endsWith('/'));
    EXPECT_EQ(Paths::LibAVFolder(), exe + "/LibAV");
    const QString data = Paths::DataFolder();
    if (QFileInfo::exists(exe + "/keltozuz3ivformat.ini")) EXPECT_EQ(data, exe);
    else EXPECT_TRUE(data == exe || data == QDir::cleanPath(exe + "/../share/kelto-converter")) << data.toStdString();
}

TEST(Format, FormatsTextOfAnyLength) {
    EXPECT_EQ(Format("%s=%d", "Width", 320), "Width=320");
    EXPECT_EQ(Format("%s", ""), "");
    EXPECT_EQ(Format("%5.2f|%-3s|%03d", 3.14159, "a", 7), " 3.14|a  |007");
    const std::string big(10000, 'x');
    const std::string out = Format("[%s]", big.c_str());
    EXPECT_EQ(out.size(), big.size() + 2);
    EXPECT_EQ(out.front(), '[');
    EXPECT_EQ(out.back(), ']');
    EXPECT_EQ(out.find('\0'), std::string::npos);
}

}  // namespace
