#include "app/TimeCode.h"
#include <QLocale>
QChar UserDecimalSeparator() { return QLocale::system().decimalPoint().at(0); }
QString FormatTimeCode(double) { return QStringLiteral("00:00:00"); }
double ParseTimeCode(const QString&, QChar) { return -1; }
