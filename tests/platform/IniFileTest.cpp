// IniFile: case-insensitive names, defaults, preservation of the rest of the file, atomic
// replacement and concurrent writers.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/IniFile.h"

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString PathOf(const QString& name) const { return m_dir.path() + "/" + name; }

    static void WriteText(const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(text), text.size());
    }
    static QByteArray ReadText(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return "<missing>";
        return file.readAll();
    }
    // Every entry of a folder, hidden ones included.
    static QStringList Entries(const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
};

TEST_F(IniFileTest, NamesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
    IniFile ini(PathOf("settings.ini"));
    ASSERT_TRUE(ini.WriteString("Preferences", "SnapOutPutDir", "/home/ann/snaps"));
    EXPECT_EQ(IniFile(ini.FileName()).ReadString("preferences", "snapOutPutDir", "x"), "/home/ann/snaps");
    EXPECT_TRUE(ini.ValueExists("PREFERENCES", "SNAPOUTPUTDIR"));
    EXPECT_TRUE(ini.SectionExists("pReFeReNcEs"));

    // A write in other letter case changes the existing key, spelled as it was.
    ASSERT_TRUE(ini.WriteString("PREFERENCES", "snapoutputdir", "/tmp"));
    EXPECT_EQ(ReadText(ini.FileName()), "[Preferences]\nSnapOutPutDir=/tmp\n");
    EXPECT_EQ(ini.ReadSection("preferences"), QStringList{"SnapOutPutDir"});
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndIsNotCreatedByReads) {
    const QString path = PathOf("none/missing.ini");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("A", "b", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("A", "b", -17), -17);
    EXPECT_TRUE(ini.ReadBool("A", "b", true));
    EXPECT_FALSE(ini.ReadBool("A", "b", false));
    EXPECT_FALSE(ini.SectionExists("A"));
    EXPECT_FALSE(ini.ValueExists("A", "b"));
    EXPECT_TRUE(ini.ReadSection("A").isEmpty());
    EXPECT_TRUE(ini.ReadSections().isEmpty());
    EXPECT_TRUE(ini.EraseSection("A"));
    EXPECT_TRUE(ini.DeleteKey("A", "b"));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(PathOf("none")));
}

TEST_F(IniFileTest, FirstWriteCreatesTheFileAndItsFolders) {
    const QString path = PathOf("deep/er/folder/kelto.ini");
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteInteger("Main", "Count", 3)) << ini.LastError().toStdString();
    ASSERT_TRUE(ini.WriteBool("Main", "Flag", true));
    ASSERT_TRUE(ini.WriteString("Other", "Name", "x"));
    EXPECT_EQ(ReadText(path), "[Main]\nCount=3\nFlag=1\n\n[Other]\nName=x\n");
    EXPECT_EQ(Entries(PathOf("deep/er/folder")), QStringList{"kelto.ini"});
}

TEST_F(IniFileTest, WritesKeepOtherSectionsCommentsAndOrder) {
    const QString path = PathOf("keep.ini");
    WriteText(path,
              "; settings of the program\n"
              "[General]\n"
              "  Language = English  \n"
              "Skin=Default\n"
              "\n"
              "; window places\n"
              "[Window]\n"
              "Left=10\n"
              "Top=20\n"
              "\n"
              "[Last]\n"
              "Folder=/home/ann\n");
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("general", "skin", "Orange"));
    ASSERT_TRUE(ini.WriteString("General", "NewKey", "new"));
    ASSERT_TRUE(ini.WriteInteger("Window", "Width", 640));
    ASSERT_TRUE(ini.WriteString("Added", "A", "1"));
    EXPECT_EQ(ReadText(path),
              "; settings of the program\n"
              "[General]\n"
              "  Language = English  \n"
              "Skin=Orange\n"
              "NewKey=new\n"
              "\n"
              "; window places\n"
              "[Window]\n"
              "Left=10\n"
              "Top=20\n"
              "Width=640\n"
              "\n"
              "[Last]\n"
              "Folder=/home/ann\n"
              "\n"
              "[Added]\n"
              "A=1\n");
    EXPECT_EQ(ini.ReadString("General", "Language", ""), "English");
    EXPECT_EQ(ini.ReadSections(), (QStringList{"General", "Window", "Last", "Added"}));
    EXPECT_EQ(ini.ReadSectionValues("window"), (QStringList{"Left=10", "Top=20", "Width=640"}));
}

TEST_F(IniFileTest, ValuesAreEverythingAfterTheFirstEqualsSignTrimmed) {
    const QString path = PathOf("values.ini");
    WriteText(path,
              "[Options]\n"
              "Filter=scale=320:240,crop=10\n"
              "  Spaced  =   a value with blanks\t \n"
              "Empty=\n"
              "NoValueLine\n"
              "=orphan\n"
              "Twice=first\n"
              "Twice=second\n"
              "[options]\n"
              "Later=ignored, the first section of a name wins\n");
    IniFile ini(path);
    struct Case {
        const char* key;
        const char* expected;
    } cases[] = {
        {"Filter", "scale=320:240,crop=10"},
        {"spaced", "a value with blanks"},
        {"Empty", ""},
        {"NoValueLine", "<default>"},
        {"Twice", "first"},
        {"Later", "<default>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadString("Options", c.key, "<default>"), c.expected) << c.key;
    EXPECT_EQ(ini.ReadSection("Options"), (QStringList{"Filter", "Spaced", "Empty", "Twice"}));
    // The whole-file read agrees with the single reads.
    const QList<IniFile::TSection> all = ini.ReadAll();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].name, "Options");
    const QList<QPair<QString, QString>> expected{
        {"Filter", "scale=320:240,crop=10"}, {"Spaced", "a value with blanks"}, {"Empty", ""}, {"Twice", "first"}};
    EXPECT_EQ(all[0].values, expected);

    // A value with '=' and blanks inside survives a write and a read.
    ASSERT_TRUE(ini.WriteString("New", "Line", "-vf a=b -x=y"));
    EXPECT_EQ(ini.ReadString("new", "line", ""), "-vf a=b -x=y");
    // A line break in a value cannot break the file into two lines.
    ASSERT_TRUE(ini.WriteString("New", "Multi", "one\ntwo"));
    EXPECT_EQ(ini.ReadString("New", "Multi", ""), "one two");
    // Keys that cannot be written as a key line are refused and change nothing.
    const QByteArray before = ReadText(path);
    EXPECT_FALSE(ini.WriteString("New", "a=b", "1"));
    EXPECT_FALSE(ini.WriteString("New", "  ", "1"));
    EXPECT_FALSE(ini.WriteString("New", ";comment", "1"));
    EXPECT_FALSE(ini.WriteString("Bad]Section", "k", "1"));
    EXPECT_EQ(ReadText(path), before);
}

TEST_F(IniFileTest, IntegersAndBooleansFallBackToTheDefaultForNonNumbers) {
    const QString path = PathOf("numbers.ini");
    IniFile ini(path);
    struct Case {
        const char* text;
        int expected;  // with the default 77
    } cases[] = {
        {"12", 12},          {"-7", -7},          {"+3", 3},
        {"0x1F", 31},        {"$10", 16},         {"0", 0},
        {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
        {"0xFFFFFFFF", -1},  {"2147483648", 77},  {"0x100000000", 77},
        {"abc", 77},         {"12abc", 77},       {"1.5", 77},
        {"", 77},            {"0x", 77},          {"-", 77},
        {"1 2", 77},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ini.WriteString("N", "v", c.text));
        EXPECT_EQ(ini.ReadInteger("N", "v", 77), c.expected) << '"' << c.text << '"';
    }

    struct BoolCase {
        const char* text;
        int expected;  // 1 true, 0 false, -1 the default
    } bools[] = {{"1", 1}, {"0", 0}, {"5", 1}, {"-1", 1}, {"yes", -1}, {"true", -1}, {"", -1}};
    for (const BoolCase& c : bools) {
        ASSERT_TRUE(ini.WriteString("B", "v", c.text));
        for (const bool def : {false, true}) {
            const bool expected = c.expected < 0 ? def : c.expected == 1;
            EXPECT_EQ(ini.ReadBool("B", "v", def), expected) << '"' << c.text << "\" default " << def;
        }
    }
    ASSERT_TRUE(ini.WriteBool("B", "On", true));
    ASSERT_TRUE(ini.WriteBool("B", "Off", false));
    EXPECT_EQ(ini.ReadString("B", "On", ""), "1");
    EXPECT_EQ(ini.ReadString("B", "Off", ""), "0");
}

TEST_F(IniFileTest, EraseSectionAndDeleteKeyRemoveOnlyWhatTheyName) {
    const QString path = PathOf("erase.ini");
    WriteText(path, "[A]\nx=1\ny=2\n\n[B]\nx=3\n\n[a]\nz=4\n");
    IniFile ini(path);
    ASSERT_TRUE(ini.DeleteKey("a", "X"));
    EXPECT_FALSE(ini.ValueExists("A", "x"));
    EXPECT_EQ(ini.ReadString("A", "y", ""), "2");
    EXPECT_EQ(ini.ReadString("B", "x", ""), "3");
    ASSERT_TRUE(ini.EraseSection("A"));
    EXPECT_FALSE(ini.SectionExists("A"));
    EXPECT_EQ(ReadText(path), "[B]\nx=3\n\n");
}

TEST_F(IniFileTest, TextIsUtf8AndLineBreaksAndByteOrderMarkAreKept) {
    const QString path = PathOf("crlf.ini");
    WriteText(path, "\xEF\xBB\xBF[Main]\r\nTitle=Caf\xC3\xA9\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Main", "Title", ""), QString::fromUtf8("Caf\xC3\xA9"));
    ASSERT_TRUE(ini.WriteString("Main", "Folder", QString::fromUtf8("/home/\xC3\xA5sa/v\xC3\xAD""deo")));
    EXPECT_EQ(ReadText(path), "\xEF\xBB\xBF[Main]\r\nTitle=Caf\xC3\xA9\r\nFolder=/home/\xC3\xA5sa/v\xC3\xAD""deo\r\n");

    // A file in an 8-bit code page is read as Latin-1 rather than losing its characters.
    const QString latin = PathOf("latin.ini");
    WriteText(latin, "[Main]\nTitle=Caf\xE9\n");
    EXPECT_EQ(IniFile(latin).ReadString("Main", "Title", ""), QString::fromUtf8("Caf\xC3\xA9"));
}

TEST_F(IniFileTest, RewriteReplacesTheFileAtomicallyAndLeavesNoTemporaryFile) {
    const QString path = PathOf("atomic.ini");
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("S", "k", "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    // A reader that opened the old file keeps reading the complete old contents: the new
    // contents went to another file that was renamed over it, nothing was truncated in place.
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ini.WriteString("S", QString("k%1").arg(i), "new value"));
    EXPECT_EQ(reader.readAll(), "[S]\nk=old\n");
    EXPECT_EQ(ini.ReadString("S", "k4", ""), "new value");

    EXPECT_EQ(Entries(m_dir.path()), QStringList{"atomic.ini"});
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // Writing through a symbolic link changes the file it names and keeps the link.
    const QString link = PathOf("link.ini");
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(IniFile(link).WriteString("S", "viaLink", "1"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ini.ReadString("S", "viaLink", ""), "1");
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileIntactAndNoTemporaryFile) {
    // The temporary file's name is longer than the file's: with a name near the system's
    // limit of 255 bytes the temporary file cannot be made, a failure that even the
    // superuser meets.
    const QString longName = QString(246, 'n') + ".ini";
    const QString path = PathOf(longName);
    WriteText(path, "[S]\nk=kept\n");
    IniFile ini(path);
    EXPECT_FALSE(ini.WriteString("S", "k", "changed"));
    EXPECT_FALSE(ini.LastError().isEmpty());
    EXPECT_EQ(ReadText(path), "[S]\nk=kept\n");
    EXPECT_EQ(Entries(m_dir.path()), QStringList{longName});

    // A path that is a folder cannot be read, so it is not "rewritten" either.
    ASSERT_TRUE(QDir().mkpath(PathOf("folder.ini/inner")));
    EXPECT_FALSE(IniFile(PathOf("folder.ini")).WriteString("S", "k", "v"));
    EXPECT_TRUE(QFileInfo(PathOf("folder.ini/inner")).isDir());

    // A folder that cannot be made.
    WriteText(PathOf("plainfile"), "x");
    EXPECT_FALSE(IniFile(PathOf("plainfile/sub/x.ini")).WriteString("S", "k", "v"));
}

TEST_F(IniFileTest, ReadOnlyFolderRefusesTheWriteWithoutHarm) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only folders";
    const QString folder = PathOf("ro");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/s.ini";
    WriteText(path, "[S]\nk=kept\n");
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    IniFile ini(path);
    EXPECT_FALSE(ini.WriteString("S", "k", "changed"));
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(ReadText(path), "[S]\nk=kept\n");
    EXPECT_EQ(Entries(folder), QStringList{"s.ini"});
}

TEST_F(IniFileTest, ConcurrentWritersNeverCorruptTheFileAndKeepEveryKey) {
    const QString path = PathOf("threads.ini");
    constexpr int kThreads = 4, kWrites = 15;
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    // A reader that checks, while the writers run, that every read sees a whole file: the
    // marker written first is always there.
    ASSERT_TRUE(IniFile(path).WriteString("Marker", "Here", "1"));
    std::thread reader([&] {
        IniFile ini(path);
        while (!stop) {
            if (ini.ReadString("Marker", "Here", "") != "1") ++badReads;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i)
                IniFile(path).WriteInteger(QString("Thread%1").arg(t), QString("Key%1").arg(i), i);
        });
    for (std::thread& w : writers) w.join();
    stop = true;
    reader.join();
    EXPECT_EQ(badReads.load(), 0);
    IniFile ini(path);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(ini.ReadSection(QString("thread%1").arg(t)).size(), kWrites);
        EXPECT_EQ(ini.ReadInteger(QString("Thread%1").arg(t), QString("Key%1").arg(kWrites - 1), -1), kWrites - 1);
    }
    EXPECT_EQ(Entries(m_dir.path()), QStringList{"threads.ini"});
}

}  // namespace
