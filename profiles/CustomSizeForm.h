#pragma once
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the width and height of the output video when "Custom Size" is chosen in the
// profile dialog's "Video Size" row, and puts them into that row as width "x" height.
class TSizeForm : public QWidget {
    Q_OBJECT
public:
    explicit TSizeForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* edtWidth = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edtHeight = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    void FormShow();
    void FormClose();
    void btnOKClick();
    void btnCancelClick();

Q_SIGNALS:
    // OK with a valid size: "<width>x<height>" as typed.
    void sizeChosen(const QString& size);
    // The dialog closes, after OK or not.
    void closing();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};
