#pragma once
// Shared helpers for the suites: message boxes answered and recorded, a throw-away
// application folder, the program's windows created and destroyed, clips made by ffmpeg.
#include "app/Dialogs.h"
#include "app/Forms.h"
#include "app/VeltraneApplication.h"
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QtTest>

// Records every message box and answers from a queue (Yes / Ok when the queue is empty).
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    QList<MessageRequest> shown;
    QList<MsgResult> answers;
    void clear() { shown.clear(); }
    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }
    QString lastCaption() const { return shown.isEmpty() ? QString() : shown.last().caption; }
};

// Records what would have been opened by the desktop.
class ShellLog {
public:
    ShellLog();
    ~ShellLog();
    QStringList opened;
    bool starts = true; // whether a program "starts" for each request
};

// A fresh application folder. With withAssets, the shipped Profiles/ and Preferences.ini
// are copied in (from the build's application folder).
class TempAppDir {
public:
    explicit TempAppDir(bool withAssets = true);
    QString path() const; // ends in "/"
    QString file(const QString& name) const { return path() + name; }
    void write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Creates the program's windows on an application folder, as the program does at start.
class FormsFixture {
public:
    explicit FormsFixture(const QString& appDir, const QStringList& args = {});
    ~FormsFixture();
};

// Answers every message box with Ok / Yes and logs it, so no suite ever waits on a real box.
void InstallQuietMessageHook();

// Folder of the built application (build/app/), and of the build.
QString BuiltAppDir();
QString BuildDir();

// Makes a test clip with ffmpeg: testsrc video plus a sine tone. Returns false on failure.
bool MakeClip(const QString& path, double seconds, const QString& size = QStringLiteral("320x240"),
              int fps = 25);
// Length of a media file in seconds by ffprobe, or -1.
double ProbeDuration(const QString& path);
// Runs ffprobe and returns "codec_type=codec_name" lines of the file's streams.
QStringList ProbeStreams(const QString& path);

#define VT_TEST_MAIN(TestObject)                                                                   \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"              \
                                                                          : qgetenv("QT_QPA_PLATFORM")); \
        if (qgetenv("VT_APP_DIR").isEmpty()) /* the player engine is loaded from there */         \
            qputenv("VT_APP_DIR", BuiltAppDir().toLocal8Bit());                                        \
        VeltraneApplication app(argc, argv);                                                       \
        QApplication::setApplicationName(QStringLiteral("Veltrane"));                              \
        QApplication::setQuitOnLastWindowClosed(false);                                            \
        InstallQuietMessageHook();                                                                 \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
