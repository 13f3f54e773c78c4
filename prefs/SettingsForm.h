#pragma once
#include "app/AppPaths.h"
#include "prefs/PreferencesStore.h"
#include <QString>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class AppState;

// The Settings dialog. Its check boxes are the live preferences: what they show is the
// application state's preferences in force, which a split job reads.
class TSettingForm : public QWidget {
    Q_OBJECT
public:
    explicit TSettingForm(AppState& state, QWidget* parent = nullptr);

    AppState& State;

    QCheckBox* chkPreview = nullptr;
    QCheckBox* chkOverwrite = nullptr;
    QCheckBox* chkoutputdir = nullptr;
    QLineEdit* edtOutputDir = nullptr;
    QPushButton* bbtnBrowse = nullptr;
    QCheckBox* chkOpenDir = nullptr;
    QCheckBox* chkExit = nullptr;
    QCheckBox* chkTurnoff = nullptr;
    QLabel* labNameTemplate = nullptr;
    QLineEdit* edtNameTemplate = nullptr; // the output name template; empty: NAME_ClipN
    QLabel* labNameExample = nullptr;     // what it gives, live
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    // Loads the seven values from section "Default" (fromDefault) or "Main", then selects
    // the stored "Profile" position of section "Main" in the main window's profile list;
    // when the profile grids hold another profile, the selected one is loaded into them.
    // A file that exists but cannot be read gives the defaults, and then throws
    // "Unable to read <path>: <why>".
    void ReadPreferences(bool fromDefault);
    // Writes the seven values shown and the picked profile's position to section "Main". A refused
    // write throws "Unable to write to <path>"; the keys written before it stay.
    void WritePreferences();
    // Where the preferences live: the application state's paths.
    AppPaths Paths() const;
    // Full path of the user's preferences file.
    QString PreferencesPath() const;

    void FormCreate();
    void FormShow();
    void FormClose();
    void btnOKClick();
    void btnCancelClick();
    void btnDefaultClick();
    void bbtnBrowseClick();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void BuildLayout();
    PreferenceValues ValuesShown() const;
    void ShowNameExample();
    void ShowValues(const PreferenceValues& values);
    QGroupBox* m_options = nullptr;
};
