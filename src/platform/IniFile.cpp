#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

namespace {

struct TLine {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    QString text;   // the line as it stands in the file, without its line break
    QString name;   // section or key name, trimmed, spelled as in the file
    QString value;  // key lines: the trimmed value
};

struct TDocument {
    QList<TLine> lines;
    bool crlf = false;  // the file used "\r\n" line breaks; a rewrite keeps them
    bool bom = false;   // the file started with a UTF-8 byte-order mark; a rewrite keeps it
};

enum class TLoad { Ok, Missing, Failed };

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

TLine ParseLine(const QString& text) {
    TLine line;
    line.text = text;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';')) return line;
    if (trimmed.startsWith('[')) {
        const qsizetype end = trimmed.indexOf(']');
        line.kind = TLine::Kind::Section;
        line.name = (end < 0 ? trimmed.mid(1) : trimmed.mid(1, end - 1)).trimmed();
        return line;
    }
    const qsizetype eq = trimmed.indexOf('=');
    if (eq <= 0) return line;
    const QString key = trimmed.left(eq).trimmed();
    if (key.isEmpty()) return line;
    line.kind = TLine::Kind::Key;
    line.name = key;
    line.value = trimmed.mid(eq + 1).trimmed();
    return line;
}

QString DecodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) return QString::fromLatin1(bytes);
    return text;
}

TLoad Load(const QString& path, TDocument& doc, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) return TLoad::Missing;
        if (error) *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return TLoad::Failed;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return TLoad::Failed;
    }
    file.close();
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        doc.bom = true;
        bytes.remove(0, 3);
    }
    doc.crlf = bytes.contains("\r\n");
    QString text = DecodeText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace('\r', '\n');
    QStringList lines = text.split('\n');
    // The break after the last line does not start another line.
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    doc.lines.reserve(lines.size());
    for (const QString& line : lines) doc.lines.push_back(ParseLine(line));
    return TLoad::Ok;
}

// Reads the file for a reader: a file that is missing or cannot be read reads as empty.
TDocument LoadForReading(const QString& path) {
    TDocument doc;
    if (Load(path, doc, nullptr) != TLoad::Ok) doc.lines.clear();
    return doc;
}

QByteArray Serialize(const TDocument& doc) {
    const QString lineBreak = doc.crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text;
    for (const TLine& line : doc.lines) {
        text += line.text;
        text += lineBreak;
    }
    QByteArray bytes = text.toUtf8();
    if (doc.bom) bytes.prepend("\xEF\xBB\xBF");
    return bytes;
}

// Index of the header of the first section of that name, or -1.
qsizetype FindSection(const TDocument& doc, const QString& section) {
    for (qsizetype i = 0; i < doc.lines.size(); ++i)
        if (doc.lines[i].kind == TLine::Kind::Section && SameName(doc.lines[i].name, section)) return i;
    return -1;
}

// One past the last line of the section whose header is at index header.
qsizetype SectionEnd(const TDocument& doc, qsizetype header) {
    qsizetype i = header + 1;
    while (i < doc.lines.size() && doc.lines[i].kind != TLine::Kind::Section) ++i;
    return i;
}

const TLine* FindKey(const TDocument& doc, const QString& section, const QString& key) {
    const qsizetype header = FindSection(doc, section);
    if (header < 0) return nullptr;
    const qsizetype end = SectionEnd(doc, header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (doc.lines[i].kind == TLine::Kind::Key && SameName(doc.lines[i].name, key)) return &doc.lines[i];
    return nullptr;
}

// Parses an integer the way the desktop platform's INI reader does: an optional sign, then
// decimal digits, or hexadecimal digits after "0x" or "$". Hexadecimal values up to
// 0xFFFFFFFF wrap to the 32-bit signed range.
std::optional<int> ParseInteger(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    qint64 value = 0;
    const qint64 limit = base == 16 ? qint64(0xFFFFFFFFll) : qint64(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * base + digit;
        if (value > limit) return std::nullopt;
    }
    if (base == 16) {
        const int wrapped = int(quint32(value));
        return negative ? int(0u - quint32(wrapped)) : wrapped;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return std::nullopt;
    return int(value);
}

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool WriteAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Replaces the file at path by data: a temporary file in the same folder is written, flushed
// to the disk and renamed over the old file. The old file's permissions carry over; a new
// file gets the usual permissions of the process (0666 less the umask).
bool ReplaceFile(const QString& path, const QByteArray& data, QString* error) {
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        // Write through the link to the file it names, keeping the link.
        const QString resolved = info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
        if (!resolved.isEmpty()) target = resolved;
    }
    const QFileInfo targetInfo(target);
    const QString folder = targetInfo.absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("Cannot create folder %1").arg(folder);
        return false;
    }
    const QByteArray targetName = QFile::encodeName(targetInfo.absoluteFilePath());

    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        const QString suffix = QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
        tempName = QFile::encodeName(folder + "/." + targetInfo.fileName() + ".tmp-" + suffix);
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = QStringLiteral("Cannot write %1: %2").arg(target, ErrnoText(errno));
        return false;
    }
    auto fail = [&](int code) {
        if (fd >= 0) ::close(fd);
        ::unlink(tempName.constData());
        *error = QStringLiteral("Cannot write %1: %2").arg(target, ErrnoText(code));
        return false;
    };
    struct stat old {};
    if (::stat(targetName.constData(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    if (!WriteAll(fd, data)) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(errno);
    if (::rename(tempName.constData(), targetName.constData()) != 0) return fail(errno);
    // Make the rename itself durable.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Serialises the read-modify-write cycles of this process, so that two threads writing
// different keys of one file both keep their change.
std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

QString SingleLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace('\r', ' ');
    text.replace('\n', ' ');
    return text;
}

}  // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
    const TDocument doc = LoadForReading(m_path);
    const TLine* line = FindKey(doc, section, key);
    return line ? line->value : defaultValue;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const std::optional<int> value = ParseInteger(ReadString(section, key, QString()));
    return value ? *value : defaultValue;
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    m_lastError.clear();
    const QString sectionName = SingleLine(section).trimmed();
    const QString keyName = SingleLine(key).trimmed();
    if (sectionName.contains(']')) {
        m_lastError = QStringLiteral("Invalid section name \"%1\"").arg(section);
        return false;
    }
    if (keyName.isEmpty() || keyName.contains('=') || keyName.startsWith(';') || keyName.startsWith('[')) {
        m_lastError = QStringLiteral("Invalid key name \"%1\"").arg(key);
        return false;
    }
    const QString text = SingleLine(value);

    std::lock_guard<std::mutex> guard(WriteLock());
    TDocument doc;
    const TLoad loaded = Load(m_path, doc, &m_lastError);
    if (loaded == TLoad::Failed) return false;
    const QByteArray before = loaded == TLoad::Ok ? Serialize(doc) : QByteArray();

    qsizetype header = FindSection(doc, sectionName);
    if (header < 0) {
        if (!doc.lines.isEmpty() && !doc.lines.last().text.trimmed().isEmpty()) doc.lines.push_back(ParseLine(QString()));
        doc.lines.push_back(ParseLine('[' + sectionName + ']'));
        header = doc.lines.size() - 1;
    }
    const qsizetype end = SectionEnd(doc, header);
    qsizetype found = -1;
    for (qsizetype i = header + 1; i < end && found < 0; ++i)
        if (doc.lines[i].kind == TLine::Kind::Key && SameName(doc.lines[i].name, keyName)) found = i;
    if (found >= 0) {
        doc.lines[found] = ParseLine(doc.lines[found].name + '=' + text);
    } else {
        // A new key follows the section's last key (or its header), so that the blank lines
        // and comments in front of the next section stay in front of it.
        qsizetype at = header + 1;
        for (qsizetype i = header + 1; i < end; ++i)
            if (doc.lines[i].kind == TLine::Kind::Key) at = i + 1;
        doc.lines.insert(at, ParseLine(keyName + '=' + text));
    }
    const QByteArray after = Serialize(doc);
    if (loaded == TLoad::Ok && after == before) return true;
    return ReplaceFile(m_path, after, &m_lastError);
}

bool IniFile::WriteInteger(const QString& section, const QString& key, int value) {
    return WriteString(section, key, QString::number(value));
}

bool IniFile::WriteBool(const QString& section, const QString& key, bool value) {
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::SectionExists(const QString& section) const {
    return FindSection(LoadForReading(m_path), section) >= 0;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const {
    return FindKey(LoadForReading(m_path), section, key) != nullptr;
}

QStringList IniFile::ReadSection(const QString& section) const {
    QStringList keys;
    const TDocument doc = LoadForReading(m_path);
    const qsizetype header = FindSection(doc, section);
    if (header < 0) return keys;
    const qsizetype end = SectionEnd(doc, header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (doc.lines[i].kind == TLine::Kind::Key && !keys.contains(doc.lines[i].name, Qt::CaseInsensitive))
            keys.push_back(doc.lines[i].name);
    return keys;
}

QStringList IniFile::ReadSections() const {
    QStringList sections;
    for (const TLine& line : LoadForReading(m_path).lines)
        if (line.kind == TLine::Kind::Section && !sections.contains(line.name, Qt::CaseInsensitive))
            sections.push_back(line.name);
    return sections;
}

QStringList IniFile::ReadSectionValues(const QString& section) const {
    QStringList values;
    const TDocument doc = LoadForReading(m_path);
    const qsizetype header = FindSection(doc, section);
    if (header < 0) return values;
    const qsizetype end = SectionEnd(doc, header);
    QStringList seen;
    for (qsizetype i = header + 1; i < end; ++i) {
        const TLine& line = doc.lines[i];
        if (line.kind != TLine::Kind::Key || seen.contains(line.name, Qt::CaseInsensitive)) continue;
        seen.push_back(line.name);
        values.push_back(line.name + '=' + line.value);
    }
    return values;
}

QList<IniFile::TSection> IniFile::ReadAll() const {
    QList<TSection> sections;
    const TDocument doc = LoadForReading(m_path);
    for (qsizetype header = 0; header < doc.lines.size(); ++header) {
        const TLine& line = doc.lines[header];
        if (line.kind != TLine::Kind::Section) continue;
        if (FindSection(doc, line.name) != header) continue;  // a later section of a known name
        TSection section;
        section.name = line.name;
        QStringList seen;
        const qsizetype end = SectionEnd(doc, header);
        for (qsizetype i = header + 1; i < end; ++i) {
            const TLine& key = doc.lines[i];
            if (key.kind != TLine::Kind::Key || seen.contains(key.name, Qt::CaseInsensitive)) continue;
            seen.push_back(key.name);
            section.values.push_back({key.name, key.value});
        }
        sections.push_back(std::move(section));
    }
    return sections;
}

bool IniFile::EraseSection(const QString& section) {
    m_lastError.clear();
    std::lock_guard<std::mutex> guard(WriteLock());
    TDocument doc;
    const TLoad loaded = Load(m_path, doc, &m_lastError);
    if (loaded == TLoad::Missing) return true;
    if (loaded == TLoad::Failed) return false;
    bool changed = false;
    for (qsizetype header = FindSection(doc, section); header >= 0; header = FindSection(doc, section)) {
        doc.lines.remove(header, SectionEnd(doc, header) - header);
        changed = true;
    }
    if (!changed) return true;
    return ReplaceFile(m_path, Serialize(doc), &m_lastError);
}

bool IniFile::DeleteKey(const QString& section, const QString& key) {
    m_lastError.clear();
    std::lock_guard<std::mutex> guard(WriteLock());
    TDocument doc;
    const TLoad loaded = Load(m_path, doc, &m_lastError);
    if (loaded == TLoad::Missing) return true;
    if (loaded == TLoad::Failed) return false;
    const qsizetype header = FindSection(doc, section);
    if (header < 0) return true;
    bool changed = false;
    for (qsizetype i = SectionEnd(doc, header) - 1; i > header; --i)
        if (doc.lines[i].kind == TLine::Kind::Key && SameName(doc.lines[i].name, key)) {
            doc.lines.removeAt(i);
            changed = true;
        }
    if (!changed) return true;
    return ReplaceFile(m_path, Serialize(doc), &m_lastError);
}
