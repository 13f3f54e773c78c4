// Start-up of the real program with a 100 MB profile against the shipped one.
//
//   bench_startup [rounds]
//
// A copy of the built application folder holds one profile, selected by its
// Preferences.ini: first the shipped "MP4 - H.264 + AAC" profile, then the same profile
// grown to 100 MB (1.2 million extra entries in its "Main" section, ahead of its own
// keys). The program runs on a private X server (Xvfb); the time counted is from starting
// the program to its main window being on the screen, which it maps only after the
// selected profile has been loaded into the profile grids. Goal: the 100 MB profile
// costs less than 0.5 s more than the shipped one.
//
// Needs Xvfb and xdotool.
#include <QCoreApplication>
#include "BenchFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {


// The visible windows of a process, by xdotool.
QStringList VisibleWindows(const QString& display, qint64 pid)
{
    QProcess x;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    x.setProcessEnvironment(env);
    x.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                         QString::number(pid)});
    x.waitForFinished(10000);
    return QString::fromLocal8Bit(x.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Milliseconds from starting the program to its main window on the screen; -1 on failure.
double StartUp(const QString& program, const QString& display, const QString& runtimeDir)
{
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    app.start(program, {});
    if (!app.waitForStarted(10000))
        return -1;
    double ms = -1;
    while (t.elapsed() < 60000 && app.state() == QProcess::Running) {
        const QStringList windows = VisibleWindows(display, app.processId());
        if (!windows.isEmpty()) {
            ms = t.nsecsElapsed() / 1e6;
            if (windows.size() != 1)
                std::printf("  (%lld windows shown: a message box at start?)\n", static_cast<long long>(windows.size()));
            break;
        }
        QThread::msleep(10);
    }
    app.kill();
    app.waitForFinished(10000);
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication core(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;

    // A private X server on a free display number.
    QProcess xvfb;
    xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                        QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(10000) || !xvfb.waitForReadyRead(20000)) {
        std::printf("Xvfb could not be started\n");
        return 1;
    }
    const QString display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();

    QTemporaryDir dir;
    const QString appDir = dir.path() + QStringLiteral("/app/");
    QDir().mkpath(appDir + QStringLiteral("Profiles"));
    const QDir built(QStringLiteral(VT_APP_DIR));
    for (const QString& name : built.entryList(QDir::Files))
        if (name != QLatin1String("Preferences.ini"))
            QFile::copy(built.filePath(name), appDir + name);
    QFile::setPermissions(appDir + QStringLiteral("veltrane"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Nothing that could end or power off anything; the one profile selected.
    WriteBytes(appDir + QStringLiteral("Preferences.ini"),
          "[Main]\nProfile=0\nAuto Exit=0\nAuto Turn Off=0\nAuto Open Dir=0\nAptotic=0\n");

    const QString profile = appDir + QStringLiteral("Profiles/Test.apf");
    const QByteArray shipped = ReadBytes(QStringLiteral(VT_PROFILES_DIR) + QStringLiteral("MP4 - H.264 + AAC.apf"));
    const QByteArray huge = GrownProfile(shipped);

    const QString runtimeDir = dir.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtimeDir);
    QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString program = appDir + QStringLiteral("veltrane");

    std::vector<double> small, big;
    StartUp(program, display, runtimeDir); // warms the caches
    // A start that did not reach its window (the X server busy, say) is tried again.
    const auto measure = [&](const QByteArray& content) {
        WriteBytes(profile, content);
        double ms = -1;
        for (int attempt = 0; attempt < 3 && ms < 0; ++attempt)
            ms = StartUp(program, display, runtimeDir);
        return ms;
    };
    for (int r = 0; r < rounds; ++r) {
        small.push_back(measure(shipped));
        big.push_back(measure(huge));
        std::printf("round %d: shipped profile %.0f ms, 100 MB profile %.0f ms\n", r + 1, small.back(), big.back());
        if (small.back() < 0 || big.back() < 0)
            return 1;
    }
    const double a = Median(small), b = Median(big);
    std::printf("start-up to the main window, median of %d: shipped profile (%lld bytes) %.0f ms, "
                "100 MB profile (%lld bytes) %.0f ms, difference %.0f ms (goal: under 500 ms)\n",
                rounds, static_cast<long long>(shipped.size()), a, static_cast<long long>(huge.size()), b, b - a);

    xvfb.terminate();
    xvfb.waitForFinished(10000);
    return a > 0 && b > 0 && b - a < 500 ? 0 : 2;
}
