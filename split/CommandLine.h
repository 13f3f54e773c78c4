#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// The grid value of a profile parameter: the text of the row keyed by name in the grid
// chosen by sort (1 video, 2 audio, 3 advanced); empty when there is no such row.
using GridValueLookup = std::function<QString(int sort, const QString& name)>;

// The profile switches: " <cmd> <value>" for each parameter that has both. Empty when
// no file exists at profilePath. Throws EListIndexError when a "Value" list is shorter
// than its "Caption" list at the chosen position.
QString BuildProfileSwitches(const QString& profilePath, const GridValueLookup& gridValue);

// One section's command line: ` -y -i "src" -ss S -t T<switches> "out"`.
QString BuildSectionCommandLine(const QString& source, double start, double length, const QString& switches,
                                const QString& output);

// Start offset in the "0.0" form and length in the general form; always with ".".
QString FormatStartOffset(double seconds);
QString FormatLength(double seconds);

// The argument list equivalent to a command line: text between double quotes is one
// argument exactly as it stands; the rest is split at blanks. No shell is involved.
QStringList SplitCommandLine(const QString& commandLine);
