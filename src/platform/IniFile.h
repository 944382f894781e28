#pragma once
// Reader and writer of INI files ("[section]" lines followed by "key=value" lines).
//
// Section and key names are compared without regard to letter case; values are text.
// Nothing is cached: every call opens the file, reads or rewrites it and closes it again, so
// an IniFile object is only a path and several objects (or threads) on one file always see
// the latest contents. A missing file reads as empty; the first write creates it together
// with its folder.
//
// A write rewrites the whole file: the other sections, keys, comments and blank lines stay as
// they were, in their order and spelling. The new contents go to a temporary file in the same
// folder, which is flushed to the disk and then renamed over the old file, so a crash leaves
// either the old or the new file, never a half-written one. Writes from several threads of
// this process are serialised; of two writes of the same key the later one wins.
//
// Parsing: lines are trimmed; "[name]" starts a section; ';' starts a comment line; in
// "key=value" the key is what stands before the first '=' and the value everything after
// it, both trimmed of surrounding blanks. Lines before the first section and lines of any
// other form are kept but ignored. The file is UTF-8 (a leading byte-order mark is
// skipped; a file that is not valid UTF-8 is read as Latin-1). Where a section name occurs
// twice, the first section of that name is the one read and written.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class IniFile {
public:
    explicit IniFile(QString path);

    const QString& FileName() const { return m_path; }

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // A value that is not an integer (decimal, or hexadecimal as "0x1F" or "$1F") or does not
    // fit in an int gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Stored as "1"/"0": an integer value is true unless it is 0; anything else gives the default.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // The writers return false when the file could not be written (LastError() tells why);
    // the file on the disk is then unchanged.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    // The keys of a section in file order, spelled as in the file.
    QStringList ReadSection(const QString& section) const;
    // Every section name in file order, spelled as in the file.
    QStringList ReadSections() const;
    // "key=value" for every key of a section, in file order.
    QStringList ReadSectionValues(const QString& section) const;
    // The whole file in one read (for large read-only files such as a catalogue): every
    // section in file order with its keys and values in file order. A name that occurs
    // twice is given once, as the readers above see it (its first occurrence).
    struct TSection {
        QString name;
        QList<QPair<QString, QString>> values;
    };
    QList<TSection> ReadAll() const;

    // Removes the section (every section of that name) with all its keys.
    bool EraseSection(const QString& section);
    // Removes the key from the section.
    bool DeleteKey(const QString& section, const QString& key);

    // Why the last write failed; empty after a successful one.
    const QString& LastError() const { return m_lastError; }

private:
    QString m_path;
    QString m_lastError;
};
