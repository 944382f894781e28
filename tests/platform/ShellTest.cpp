// Shell: the recorder used by tests, the current instance, and the desktop shell's
// power-off request (given a stand-in program, so the computer stays on).

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

#include "platform/MainThread.h"
#include "platform/RecordingShell.h"
#include "platform/Shell.h"

namespace {

using TKind = RecordingShell::TKind;

TEST(RecordingShell, RecordsCallsInOrderAndReturnsTheSetResult) {
    RecordingShell shell;
    EXPECT_TRUE(shell.OpenFolder("/home/ann/videoconverter"));
    EXPECT_TRUE(shell.OpenURL("https://example.org/help"));
    shell.SetResult(false);
    EXPECT_FALSE(shell.PowerOff());
    EXPECT_FALSE(shell.OpenFolder("/out"));

    const QList<RecordingShell::TCall> calls = shell.Calls();
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls[0].kind, TKind::OpenFolder);
    EXPECT_EQ(calls[0].argument, "/home/ann/videoconverter");
    EXPECT_EQ(calls[1].kind, TKind::OpenURL);
    EXPECT_EQ(calls[1].argument, "https://example.org/help");
    EXPECT_EQ(calls[2].kind, TKind::PowerOff);
    EXPECT_EQ(shell.Arguments(TKind::OpenFolder), (QStringList{"/home/ann/videoconverter", "/out"}));
    EXPECT_EQ(shell.PowerOffCount(), 1);
    shell.Clear();
    EXPECT_TRUE(shell.Calls().isEmpty());
}

TEST(CurrentShell, DefaultsToTheDesktopAndCanBeReplacedAndRestored) {
    EXPECT_NE(dynamic_cast<DesktopShell*>(&CurrentShell()), nullptr);
    RecordingShell recorder;
    {
        ScopedCurrentShell use(recorder);
        EXPECT_EQ(&CurrentShell(), &recorder);
        CurrentShell().PowerOff();
    }
    EXPECT_EQ(recorder.PowerOffCount(), 1);
    EXPECT_NE(dynamic_cast<DesktopShell*>(&CurrentShell()), nullptr);
    SetCurrentShell(&recorder);
    EXPECT_EQ(&CurrentShell(), &recorder);
    SetCurrentShell(nullptr);
    EXPECT_NE(dynamic_cast<DesktopShell*>(&CurrentShell()), nullptr);
}

class DesktopShellPowerOff : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_marker = m_dir.path() + "/arguments.txt";
        m_program = m_dir.path() + "/systemctl-standin";
        QFile script(m_program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\nprintf '%s|' \"$@\" > '%1.part' && mv '%1.part' '%1'\n")
                         .arg(m_marker)
                         .toUtf8());
        script.close();
        ASSERT_TRUE(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        qunsetenv("KELTO_NO_POWEROFF");
    }
    void TearDown() override { qunsetenv("KELTO_NO_POWEROFF"); }

    QTemporaryDir m_dir;
    QString m_marker;
    QString m_program;
};

TEST_F(DesktopShellPowerOff, AsksThePowerOffProgramWithTheArgumentPoweroff) {
    DesktopShell shell(m_program);
    ASSERT_TRUE(shell.PowerOff());
    ASSERT_TRUE(MainThread::WaitFor([&] { return QFileInfo::exists(m_marker); }, std::chrono::seconds(10)));
    QFile marker(m_marker);
    ASSERT_TRUE(marker.open(QIODevice::ReadOnly));
    EXPECT_EQ(marker.readAll(), "poweroff|");
}

TEST_F(DesktopShellPowerOff, RefusesWhenTheEnvironmentForbidsIt) {
    qputenv("KELTO_NO_POWEROFF", "1");
    DesktopShell shell(m_program);
    EXPECT_FALSE(shell.PowerOff());
    MainThread::Sleep(std::chrono::milliseconds(200));
    EXPECT_FALSE(QFileInfo::exists(m_marker));
}

TEST(DesktopShell, MissingFolderOrEmptyAddressIsRefused) {
    DesktopShell shell;
    EXPECT_FALSE(shell.OpenFolder(""));
    EXPECT_FALSE(shell.OpenFolder("/no/such/folder/kelto"));
    EXPECT_FALSE(shell.OpenURL(""));
}

}  // namespace
