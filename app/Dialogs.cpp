#include "app/Dialogs.h"
#include "app/VtError.h"
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
MessageHook g_hook;
QString g_title = QStringLiteral("Veltrane");

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void SetApplicationTitle(const QString& title) { g_title = title; }
QString ApplicationTitle() { return g_title; }

void SetMessageHook(MessageHook hook) { g_hook = std::move(hook); }

MsgResult ShowMessage(QWidget* owner, MsgIcon icon, const QString& caption, const QString& text,
                      MsgButtons buttons)
{
    if (g_hook)
        return g_hook(MessageRequest{owner, icon, caption, text, buttons});
    // A box whose owner is disabled (another dialog is open over it) would be disabled as
    // well and could not be answered; it then stands on its own.
    QMessageBox box(toQt(icon), caption, text,
                    buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    owner && owner->isEnabled() ? owner : nullptr);
    QPushButton* open = nullptr;
    if (buttons == MsgButtons::OkOpenFolder) {
        open = box.addButton(QStringLiteral("Open Folder"), QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int r = box.exec();
    if (open && box.clickedButton() == open)
        return MsgResult::OpenFolder;
    if (buttons != MsgButtons::YesNo)
        return MsgResult::Ok;
    return r == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

QString ErrorBoxText(const QString& text)
{
    if (!text.isEmpty() && text.at(text.size() - 1) > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void ShowErrorBox(const QString& text)
{
    ShowMessage(QApplication::activeWindow(), MsgIcon::Error, ApplicationTitle(),
                ErrorBoxText(text));
}

void RunGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const EVeltraneError& e) {
        ShowErrorBox(e.message());
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromLocal8Bit(e.what()));
    }
}

#include <QFileDialog>
#include <QRegularExpression>

namespace {
OpenDialogHook g_openHook;
}

void SetOpenDialogHook(OpenDialogHook hook) { g_openHook = std::move(hook); }

QString QtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        const QString patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        // Qt reads the patterns from the last pair of brackets, separated by blanks.
        const int open = desc.indexOf(QLatin1Char('('));
        if (open >= 0)
            desc = desc.left(open).trimmed();
        out << desc + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

QString RunOpenDialog(QWidget* owner, const QString& filter)
{
    if (g_openHook)
        return g_openHook(owner, filter);
    QFileDialog dlg(owner);
    dlg.setFileMode(QFileDialog::AnyFile); // the typed name need not exist
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setNameFilter(QtNameFilters(filter));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().first();
}
