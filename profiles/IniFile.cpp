#include "profiles/IniFile.h"
std::optional<qint32> ConvertWholeNumber(const QString&) { return std::nullopt; }
TIniFile::TIniFile(const QString& path) : m_path(path) {}
QString TIniFile::GetText(const QString&, const QString&, const QString& def) const { return def; }
qint32 TIniFile::GetInteger(const QString&, const QString&, qint32 def) const { return def; }
bool TIniFile::GetFlag(const QString&, const QString&, bool def) const { return def; }
void TIniFile::PutText(const QString&, const QString&, const QString&) {}
void TIniFile::PutInteger(const QString&, const QString&, qint32) {}
void TIniFile::PutFlag(const QString&, const QString&, bool) {}
