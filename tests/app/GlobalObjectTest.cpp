// The global configuration object: file paths, assignment rules and the version text.

#include <QDir>

#include <gtest/gtest.h>

#include "app/GlobalObject.h"

TEST(GlobalObject, SettingsFileLivesInTheConfigFolderAndProfileFileBesideTheProgram) {
    TGlobalObject global;
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty()) << "the tests run with a private XDG_CONFIG_HOME";
    EXPECT_EQ(global.SettingsFile(), config + "/kelto-converter/keltozuz3ivconverter.ini");
    EXPECT_TRUE(global.ProfileFile().endsWith("/keltozuz3ivformat.ini"));
    EXPECT_TRUE(QDir::isAbsolutePath(global.ProfileFile()));
    EXPECT_EQ(global.AppTitle(), "Kelto RAZ 3IR Ederarere");
    EXPECT_EQ(global.AppVersion(), " ver 1.10 ");
}

TEST(GlobalObject, ShortPathsAndEmptyTextsAreIgnored) {
    TGlobalObject global;
    const QString settings = global.SettingsFile();
    global.SetSettingsFile("a/b");
    global.SetProfileFile("");
    EXPECT_EQ(global.SettingsFile(), settings);
    global.SetSettingsFile("/a/b");
    EXPECT_EQ(global.SettingsFile(), "/a/b");
    global.SetAppTitle("");
    global.SetAppVersion("");
    global.SetHelpURL("");
    EXPECT_EQ(global.AppTitle(), "Kelto RAZ 3IR Ederarere");
    EXPECT_EQ(global.AppVersion(), " ver 1.10 ");
    EXPECT_TRUE(global.HelpURL().isEmpty());
    global.SetAppVersion(" 2.000 ");
    EXPECT_EQ(global.AppVersion(), " 2.000 ");
}

TEST(GlobalObject, FileVersionTextJoinsMinorReleaseAndBuild) {
    EXPECT_EQ(FileVersionText(3, 3, 0, 0), " 3.300 ");
    EXPECT_EQ(FileVersionText(1, 10, 2, 15), " 1.10215 ");
    EXPECT_TRUE(FileVersionText().startsWith(' '));
    EXPECT_TRUE(FileVersionText().endsWith(' '));
}
