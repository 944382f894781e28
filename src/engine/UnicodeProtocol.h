#pragma once
// File names on their way to the media library. File names are kept as QString; the
// media library takes narrow (UTF-8) names. A name that the narrow form cannot hold is
// handed over as "unicode:utf8:" + its UTF-8 text, and such a URL is opened through a
// custom AVIOContext on the file. Names stored in that form keep working everywhere.

#include <QString>
#include <string>

struct AVFormatContext;
struct AVIOContext;
struct AVInputFormat;
struct AVDictionary;

inline constexpr char kUnicodeURLPrefix[] = "unicode:utf8:";

// Called by the loader once avformat is loaded; checks the entry points that the custom
// I/O needs (once per process).
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

bool NeedUnicodeURL(const QString& name);
// The narrow text to give the media library for a file name.
std::string FileNameToURL(const QString& name);
// The file name behind a narrow text held by the media library.
QString URLToFileName(const std::string& text);
bool IsUnicodeURL(const std::string& text);

// Opens a "unicode:utf8:" URL as an I/O context. flags: AVIO_FLAG_READ, AVIO_FLAG_WRITE
// (create or replace) or AVIO_FLAG_READ_WRITE (create or replace). 0, or -2 when the file
// cannot be opened.
int UnicodeOpen(AVIOContext** pb, const std::string& url, int flags);
// Closes an I/O context made by UnicodeOpen and sets *pb to null. Returns close()'s result.
int UnicodeClose(AVIOContext** pb);
bool IsUnicodeIO(const AVIOContext* pb);

// avformat_open_input for any narrow name: a "unicode:utf8:" URL is read through the
// custom I/O. *ctx may hold a pre-allocated context (freed on failure, as the library does).
int OpenInputURL(AVFormatContext** ctx, const std::string& url, const AVInputFormat* fmt,
                 AVDictionary** options);
// avformat_close_input that also closes the custom I/O of OpenInputURL.
void CloseInputURL(AVFormatContext** ctx);
// avio_open2 / avio_closep counterparts for output files.
int OpenOutputIO(AVIOContext** pb, const std::string& url, int flags, AVDictionary** options);
int CloseOutputIO(AVIOContext** pb);
