#pragma once
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

// Ten seconds before the program exits or the computer is turned off, with a way to act
// at once or to abandon it.
class TCountDownForm : public QWidget {
    Q_OBJECT
public:
    explicit TCountDownForm(QWidget* parent = nullptr);

    QLabel* labMessage = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* btnDoNow = nullptr;
    QPushButton* btnCancel = nullptr;
    QTimer* tmrCountdown = nullptr;

    qint32 SecondsLeft = 0;
    QString MessagePrefix;
    qint32 CountdownMode = 0; // 0 exit the program, 1 turn the computer off

    // Shows the dialog for mode 0 (exit the program) or 1 (turn the computer off).
    void Begin(qint32 mode);
    void FormShow();
    void FormClose();
    void tmrCountdownTimer();
    void btnDoNowClick();
    void btnCancelClick();

Q_SIGNALS:
    // Exit Now (or the count reached 0 in exit mode): the program is to end the normal way.
    void exitRequested();
    // Cancel or the close box: the action is abandoned and the main window goes idle.
    void abandoned();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    bool m_cancelling = false;
};
