#include "TestSupport.h"
#include "app/MainForm.h"
#include "app/Shell.h"
#include "preview/FilterGraph.h"

namespace {
constexpr int kOpenWaitMs = 90000;
}

void OpenSourceAndWait(const QString& path)
{
    MainForm->OpenSource(path);
    QTRY_VERIFY_WITH_TIMEOUT(!MainForm->OpeningSource(), kOpenWaitMs);
}

qint32 RenderAndWait(TFilterGraph* graph, const QString& path)
{
    const qint32 code = graph->RenderSource(path);
    if (code != VT_S_OK)
        return code;
    QElapsedTimer t;
    t.start();
    while (graph->Loading() && t.elapsed() < kOpenWaitMs)
        QTest::qWait(5);
    if (graph->FailureCode() != 0)
        throw EDirectShowException(graph->FailureText(), graph->FailureCode());
    return graph->Loading() ? VT_E_TIMEOUT : VT_S_OK;
}

MessageLog::MessageLog()
{
    SetMessageHook([this](const MessageRequest& r) {
        shown.append(r);
        if (!answers.isEmpty())
            return answers.takeFirst();
        return r.buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    });
}

MessageLog::~MessageLog() { InstallQuietMessageHook(); }

void InstallQuietMessageHook()
{
    SetMessageHook([](const MessageRequest& r) {
        qWarning("message box (unanswered by the test): [%s] %s", qPrintable(r.caption), qPrintable(r.text));
        return r.buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    });
}

ShellLog::ShellLog()
{
    SetShellOpener([this](const QString& t) {
        opened << t;
        return starts;
    });
}

ShellLog::~ShellLog() { SetShellOpener({}); }

FormsFixture::FormsFixture(const QString& appDir, const QStringList& args)
{
    CreateForms(StartOptions{appDir, args});
}

FormsFixture::~FormsFixture() { DestroyForms(); }
