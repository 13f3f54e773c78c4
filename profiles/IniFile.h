#pragma once
#include <QString>
#include <optional>

// The program's whole-number conversion: leading blanks, optional sign, decimal digits
// or a hexadecimal mark ("$", "x", "X", "0x", "0X") with hexadecimal digits; must fit
// 32 bits. Used for INI numbers, the section quantity and the custom video size.
std::optional<qint32> ConvertWholeNumber(const QString& text);

// INI text store. Holds only the path: every read goes to the file and every write
// changes it at once, keeping all other lines as they were.
class TIniFile {
public:
    explicit TIniFile(const QString& path);
    const QString& FileName() const { return m_path; }

    QString GetText(const QString& section, const QString& key, const QString& def) const;
    qint32 GetInteger(const QString& section, const QString& key, qint32 def) const;
    bool GetFlag(const QString& section, const QString& key, bool def) const;

    // Throw EVeltraneError "Unable to write to <path>" when the file cannot be written.
    void PutText(const QString& section, const QString& key, const QString& value);
    void PutInteger(const QString& section, const QString& key, qint32 value);
    void PutFlag(const QString& section, const QString& key, bool value);

    // Nothing is held back between writes; kept so callers read as the design does.
    void Release() {}

private:
    QString m_path;
};
