// What reading settings costs. A store reads its file once and answers every key from
// that reading, so a whole profile costs about one reading of its file.
//
//   bench_core
//
// 1. Each shipped profile loaded the way the profile dialog loads it, 200 times.
// 2. Single reads spread over a file of 200 sections of 20 keys (about 4200 lines),
//    against reading that file's bytes alone.
// 3. A shipped profile grown to 100 MB (1.2 million extra entries in its "Main" section),
//    loaded and turned into switches, against the shipped profile; its values saved as
//    the profile dialog's OK saves them; and a profile whose "Para" claims 2147483647
//    parameters, refused.
#include "app/VtError.h"
#include "profiles/IniFile.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"

#include "BenchFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kRounds = 200;
constexpr int kSections = 200;
constexpr int kKeys = 20;

double Micro(const QElapsedTimer& t) { return t.nsecsElapsed() / 1000.0; }
double Milli(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

// Loading and building the switches, as start-up and Split do; milliseconds of the best of three.
double LoadAndBuild(const QString& path, qsizetype* parameters)
{
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        *parameters = ReadProfile(path).parameters.size();
        BuildProfileSwitches(path, [](int, const QString&) { return QString(); });
        best = qMin(best, Milli(t));
    }
    return best;
}

} // namespace

int main()
{
    const QDir profiles(QStringLiteral(VT_PROFILES_DIR));
    for (const QString& name : profiles.entryList({QStringLiteral("*.apf")}, QDir::Files, QDir::Name)) {
        const QString path = profiles.filePath(name);
        qsizetype parameters = 0;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < kRounds; ++i)
            parameters = ReadProfile(path).parameters.size();
        std::printf("%-45s %3lld parameters  %8.1f us per load\n", qPrintable(name), static_cast<long long>(parameters),
                    Micro(t) / kRounds);
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.ini"));
    QByteArray data;
    for (int s = 0; s < kSections; ++s) {
        data += "[Section" + QByteArray::number(s) + "]\n";
        for (int k = 0; k < kKeys; ++k)
            data += "Key" + QByteArray::number(k) + "=value " + QByteArray::number(k) + "\n";
    }
    if (!WriteBytes(path, data))
        return 1;

    QElapsedTimer t;
    t.start();
    qsizetype bytes = 0;
    for (int i = 0; i < kSections; ++i)
        bytes += ReadBytes(path).size();
    const double readOnce = Micro(t) / kSections;

    const TIniFile ini(path);
    t.restart();
    qsizetype found = 0;
    for (int s = 0; s < kSections; ++s)
        found += ini.GetText(QStringLiteral("Section%1").arg(s), QStringLiteral("Key%1").arg(s % kKeys), QString()).size();
    const double allReads = Micro(t);
    std::printf("large file (%lld bytes): %d reads in %.1f us, %.1f us to read its bytes once, ratio %.2f\n",
                static_cast<long long>(data.size()), kSections, allReads, readOnce, allReads / readOnce);

    const QString shipped = profiles.filePath(QStringLiteral("MP4 - H.264 + AAC.apf"));
    const QString huge = dir.filePath(QStringLiteral("huge.apf"));
    if (!WriteBytes(huge, GrownProfile(ReadBytes(shipped))))
        return 1;
    qsizetype small = 0, big = 0;
    const double shippedMs = LoadAndBuild(shipped, &small);
    const double hugeMs = LoadAndBuild(huge, &big);
    std::printf("load and switches: shipped profile %.2f ms (%lld parameters), 100 MB profile %.1f ms (%lld parameters), "
                "difference %.1f ms\n",
                shippedMs, static_cast<long long>(small), hugeMs, static_cast<long long>(big), hugeMs - shippedMs);

    // OK of the profile dialog: every editable value written back, in one write of the file.
    const ProfileContent content = ReadProfile(huge);
    t.restart();
    SaveProfileValuesTo(huge, [&](int, const QString& name) -> std::optional<GridRowValue> {
        for (const ProfileParameter& p : content.parameters)
            if (p.name == name) {
                const QStringList items = SplitItems(p.caption);
                return GridRowValue{p.list ? items.value(p.index) : p.caption, items};
            }
        return std::nullopt;
    });
    std::printf("saving the values of the 100 MB profile: %.0f ms\n", Milli(t));

    const QString claims = dir.filePath(QStringLiteral("claims.apf"));
    if (!WriteBytes(claims, "[Main]\nPara=2147483647\n0=A\n[A]\nSort=1\n"))
        return 1;
    t.restart();
    QString refusal;
    try {
        ReadProfile(claims);
    } catch (const EVeltraneError& e) {
        refusal = e.message();
    }
    std::printf("Para=2147483647: refused in %.3f ms (%s)\n", Milli(t), qPrintable(refusal));
    // Keeps the reads from being optimised away.
    return found + bytes > 0 && !refusal.isEmpty() ? 0 : 1;
}
