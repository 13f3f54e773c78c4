#pragma once
// Helpers for the suites that create the program's windows: message boxes answered and
// recorded, the windows created and destroyed (the window-free helpers come with them).
#include "app/Dialogs.h"
#include "app/Forms.h"
#include "app/VeltraneApplication.h"
#include "CoreTestSupport.h"
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

// Creates the program's windows on an application folder, as the program does at start.
class FormsFixture {
public:
    explicit FormsFixture(const QString& appDir, const QStringList& args = {});
    ~FormsFixture();
};

// Answers every message box with Ok / Yes and logs it, so no suite ever waits on a real box.
void InstallQuietMessageHook();

class TFilterGraph;
// Opens a source in the main window and waits until the player has opened it (and the
// window has taken it up) or refused it (and the window has said so).
void OpenSourceAndWait(const QString& path);
// Renders a file into the graph and waits for the player: VT_S_OK once it is ready; a file
// it refuses raises the failure the window would show.
qint32 RenderAndWait(TFilterGraph* graph, const QString& path);

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
