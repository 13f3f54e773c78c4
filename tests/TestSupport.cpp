#include "TestSupport.h"
#include "app/Shell.h"

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
