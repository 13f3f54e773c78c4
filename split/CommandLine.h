#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// The grid value of a profile parameter: the text of the row keyed by name in the grid
// chosen by sort (1 video, 2 audio, 3 advanced); empty when there is no such row.
using GridValueLookup = std::function<QString(int sort, const QString& name)>;

// The profile switches: " <cmd> <value>" for each parameter that has both. Empty when
// no file exists at profilePath. Throws EListIndexError when a "Value" list is shorter
// than its "Caption" list at the chosen position. A "Sort" outside 1..3 names no grid,
// so such a parameter's grid value is empty.
QString BuildProfileSwitches(const QString& profilePath, const GridValueLookup& gridValue);

// One section's command line: ` -y -i "src" -ss S -t T<extra><switches> "out"`, with start
// and length in full precision (FormatSeconds); extra: what the section's cut adds.
QString BuildSectionCommandLine(const QString& source, double start, double length, const QString& switches,
                                const QString& output, const QStringList& extra = {});

// Length in the general form (15 significant digits, no trailing zeros, never an
// exponent); always with ".", whatever the locale, since ffmpeg reads no comma.
QString FormatLength(double seconds);

// Seconds as the encoder gets them: to the nearest microsecond (ffmpeg's own precision),
// "." as decimal point, no trailing zeros, never an exponent: 43.36, 10, 33.333333.
QString FormatSeconds(double seconds);

// The argument list equivalent to a command line: text between double quotes is one
// argument exactly as it stands; the rest is split at blanks. No shell is involved.
// Nothing is escaped, so a quoted text cannot itself hold a double quote.
QStringList SplitCommandLine(const QString& commandLine);

// The argument list the encoder is started with for one section: the same pieces as
// BuildSectionCommandLine, but the two paths are taken as they stand, never re-parsed
// from the text, so a path may hold any character (a double quote included). The
// switches are split like SplitCommandLine does.
QStringList BuildSectionArguments(const QString& source, double start, double length, const QString& switches,
                                  const QString& output, const QStringList& extra = {});
