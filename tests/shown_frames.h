#pragma once
// For suites that check which picture the main window's player shows: clips made by ffmpeg,
// the frame a seek or step settles on, and times compared to the microsecond.
#include "app/Forms.h"
#include "app/MainForm.h"
#include "preview/FilterGraph.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtTest/QtTest>
#include <cmath>

inline bool Ffmpeg(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline TFilterGraph* Graph() { return MainForm->FilterGraph; }

// Waits until nothing is on its way to the surface; the frame shown (-2 when it never settles).
inline double Settled()
{
    QElapsedTimer t;
    t.start();
    while (Graph()->SeekPending() && t.elapsed() < 30000)
        QTest::qWait(5);
    return Graph()->SeekPending() ? -2 : Graph()->CurrentFrameTime();
}

#define COMPARE_TIME(actual, expected)                                                                       \
    QVERIFY2(std::abs((actual) - (expected)) < 1e-5,                                                        \
             qPrintable(QStringLiteral("shows %1 s, expected %2 s").arg(actual, 0, 'f', 6).arg(expected, 0, 'f', 6)))
