#pragma once
#include <QString>
#include <memory>
#include <optional>

// The program's whole-number conversion: leading blanks, optional sign, decimal digits
// or a hexadecimal mark ("$", "x", "X", "0x", "0X") with hexadecimal digits; must fit
// 32 bits. Used for INI numbers, the section quantity and the custom video size.
std::optional<qint32> ConvertWholeNumber(const QString& text);

struct IniContent;

// The whole content of a regular file of at most TIniFile::MaxFileBytes, read without
// ever blocking on a pipe or a device. Throws EVeltraneError "Unable to read <path>: <why>"
// when it is missing or cannot be read.
QByteArray ReadSettingsFile(const QString& path);

// Throws EVeltraneError "Unable to write to <path>" unless path may be replaced: its
// folder exists and is writable, and a file already there is a regular file that is
// writable and not marked read-only (which counts for the super-user too).
void CheckReplaceable(const QString& path);

// INI text store. A store object reads its file once, on its first read, and answers
// every further read from that; a write by any store of the program makes the next read
// look at the file again. Writes change the file at once (a temporary file renamed over
// it; see HoldWrites for many at once), keeping all other lines as they were and the
// file's own line breaks and encoding (UTF-8, or Windows-1252 for a file that is not
// valid UTF-8).
//
// A file that exists but cannot be used (not a regular file, too large, unreadable)
// reads as the defaults, like a missing one; CheckReadable() reports it, and writes to it
// are refused. Reading never blocks on a pipe or a device.
class TIniFile {
public:
    explicit TIniFile(const QString& path);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const QString& FileName() const { return m_path; }

    // Section and key names are matched without their surrounding blanks and without
    // regard to letter case; the first occurrence counts.
    QString GetText(const QString& section, const QString& key, const QString& def) const;
    qint32 GetInteger(const QString& section, const QString& key, qint32 def) const;
    bool GetFlag(const QString& section, const QString& key, bool def) const;

    // Throws EVeltraneError "Unable to read <path>: <why>" when the file exists but
    // cannot be read as a settings file. A missing file is no error.
    void CheckReadable() const;
    // The number of section header lines in the file (0 for a missing file).
    int SectionCount() const;

    // Throw EVeltraneError "Unable to write to <path>" when the file cannot be written.
    // Replacing a value keeps the key as the file spells it. Each write lands in the file
    // at once, unless the store holds its writes.
    void PutText(const QString& section, const QString& key, const QString& value);
    void PutInteger(const QString& section, const QString& key, qint32 value);
    void PutFlag(const QString& section, const QString& key, bool value);

    // From now on writes change only what this store reads, and Release() writes them to
    // the file in one go: a large file is then written once, not once per key, and a
    // refused write leaves it as it was.
    void HoldWrites();
    // Writes what the store holds back (throws as PutText does); nothing when it holds nothing.
    void Release();

    // Files larger than this are not read as settings files.
    static constexpr qint64 MaxFileBytes = qint64(256) * 1024 * 1024;

private:
    const IniContent& Content() const;
    void Flush();

    QString m_path;
    mutable std::shared_ptr<IniContent> m_content;
    mutable quint64 m_generation = 0;
    bool m_holding = false; // writes wait for Release()
    bool m_held = false;    // the content holds writes the file has not had yet
};
