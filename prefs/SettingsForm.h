#pragma once
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The Settings dialog; its check boxes are the live preferences a split job reads.
class TSettingForm : public QWidget {
    Q_OBJECT
public:
    explicit TSettingForm(QWidget* parent = nullptr);

    QCheckBox* chkPreview = nullptr;
    QCheckBox* chkOverwrite = nullptr;
    QCheckBox* chkoutputdir = nullptr;
    QLineEdit* edtOutputDir = nullptr;
    QPushButton* bbtnBrowse = nullptr;
    QCheckBox* chkOpenDir = nullptr;
    QCheckBox* chkExit = nullptr;
    QCheckBox* chkTurnoff = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    void ReadPreferences(bool fromDefault);
    void WritePreferences();
};
