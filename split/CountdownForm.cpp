#include "split/CountdownForm.h"
#include "app/WindowHelpers.h"
#include "split/PowerOff.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

TCountDownForm::TCountDownForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("CountDownForm"));
    setWindowTitle(QStringLiteral("Countdown"));
    setFixedSize(420, 124);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(20, 22, 32, 32);
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/countdown.png")));
    Image1->setScaledContents(true);

    labMessage = new QLabel(this);
    labMessage->setObjectName(QStringLiteral("labMessage"));
    labMessage->setGeometry(68, 22, 336, 32);
    labMessage->setWordWrap(true);

    btnDoNow = new QPushButton(QStringLiteral("Now"), this);
    btnDoNow->setObjectName(QStringLiteral("btnDoNow"));
    btnDoNow->setGeometry(168, 78, 120, 28);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(300, 78, 100, 28);

    tmrCountdown = new QTimer(this);
    tmrCountdown->setObjectName(QStringLiteral("tmrCountdown"));
    tmrCountdown->setInterval(1000);

    connect(btnDoNow, &QPushButton::clicked, this, &TCountDownForm::btnDoNowClick);
    connect(btnCancel, &QPushButton::clicked, this, &TCountDownForm::btnCancelClick);
    connect(tmrCountdown, &QTimer::timeout, this, &TCountDownForm::tmrCountdownTimer);
}

void TCountDownForm::Begin(qint32 mode)
{
    CountdownMode = mode;
    btnDoNow->setText(mode == 1 ? QStringLiteral("Turn off Now") : QStringLiteral("Exit Now"));
    MessagePrefix = mode == 1 ? QStringLiteral("The computer will be turned off within")
                              : QStringLiteral("The program will exit within");
    show();
}

void TCountDownForm::FormShow()
{
    DisableMainFormFor(this);
    labMessage->setText(MessagePrefix + QStringLiteral(" 10 seconds."));
    SecondsLeft = 10;
    tmrCountdown->start();
}

void TCountDownForm::FormClose()
{
    tmrCountdown->stop();
    EnableMainFormAfter(this);
}

void TCountDownForm::tmrCountdownTimer()
{
    --SecondsLeft;
    labMessage->setText(MessagePrefix + QLatin1Char(' ') + QString::number(SecondsLeft) + QStringLiteral(" seconds."));
    if (SecondsLeft == 0) {
        tmrCountdown->stop();
        btnDoNow->click();
    }
}

void TCountDownForm::btnDoNowClick()
{
    // The countdown goes on: a refused power-off is asked again when it reaches 0.
    if (CountdownMode == 0) {
        // The normal way out: the preferences are written and the program ends.
        emit exitRequested();
    } else if (CountdownMode == 1) {
        PowerOff();
    }
}

void TCountDownForm::btnCancelClick()
{
    emit abandoned();
    m_cancelling = true;
    close();
    m_cancelling = false;
}

void TCountDownForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    // Restoring a minimised dialog shows it again too; that must not restart the count.
    if (e->spontaneous())
        return;
    CentreOverMainForm(this);
    FormShow();
}

void TCountDownForm::closeEvent(QCloseEvent* e)
{
    // Closed by its title bar: the action is abandoned just as with Cancel, so the main
    // window does not stay in its job layout with nothing left to end it.
    if (!m_cancelling && isVisible())
        emit abandoned();
    FormClose();
    e->accept();
}
