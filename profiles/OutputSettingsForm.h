#pragma once
#include <QWidget>

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class AppState;
class TValueListEditor;
struct TCellLook;

// The profile dialog. Its three grids are where the user edits the current profile's
// values; every change is handed to the application state, from which a job takes them
// whether the dialog is shown or not.
class TopSettingForm : public QWidget {
    Q_OBJECT
public:
    explicit TopSettingForm(AppState& state, QWidget* parent = nullptr);

    AppState& State;

    QComboBox* cmbProfile = nullptr;
    QPushButton* btnSaveAs = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QLabel* panVideo = nullptr;
    QLabel* panAudio = nullptr;
    QLabel* panAdvanced = nullptr;
    QPushButton* btnVideo = nullptr;
    QPushButton* btnAudio = nullptr;
    QPushButton* btnAdvanced = nullptr;
    TValueListEditor* vleVideo = nullptr;
    TValueListEditor* vleAudio = nullptr;
    TValueListEditor* vleAdvanced = nullptr;
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // Cancel
    QPlainTextEdit* memDescription = nullptr; // never shown
    QFrame* Bevel1 = nullptr;                 // never shown

    // SaveDialog1's settings.
    static inline const QString SaveFilter = QStringLiteral("Profiles (*.apf)|*.apf");
    static inline const QString SaveDefaultExt = QStringLiteral("apf");

    QString OutputExtension = QStringLiteral(".mp4"); // "." + "Type" of the profile loaded last
    QString LoadedProfilePath; // the file the grids were loaded from last

    // Fills the grids from a profile file; nothing happens when there is no such file.
    // Throws EListIndexError for an "Index" outside its items (the rows before it stay).
    void LoadProfile(const QString& path);
    // Writes the values of the editable parameters into the file.
    void SaveProfileValues(const QString& path);
    // Copies the profile file and writes the current values into the copy.
    void CopyProfile(const QString& source, const QString& target);
    // The grid for a "Sort" value (1 video, 2 audio, 3 advanced), nullptr for any other.
    TValueListEditor* GridForSort(int sort) const;
    // Profile path of the name in this dialog's own list.
    QString SelectedProfilePath() const;

    // Shows the dialog on the profile at that position of the list (the main window's Detail).
    void ShowForProfile(int index);

    void FormCreate();
    void cmbProfileChange();
    void Button1Click();
    void Button2Click();
    void btnSaveAsClick();
    void btnVideoClick();
    void btnAudioClick();
    void btnAdvancedClick();
    void vleVideoStringsChange();
    void vleVideoDrawCell(int col, int row, TCellLook& look);
    void vleAudioDrawCell(int col, int row, TCellLook& look);
    void vleAdvancedDrawCell(int col, int row, TCellLook& look);
    void vleVideoMouseDown();
    void vleAudioMouseDown();
    void vleAdvancedMouseDown();
    // From the custom size dialog: the size typed there, or none given.
    void SetVideoSize(const QString& size);
    void DropCustomSize();

Q_SIGNALS:
    // "Custom Size" was picked for the video size: the size dialog is wanted.
    void customSizeRequested();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void BuildLayout();
    void ToggleSection(QPushButton* button, TValueListEditor* grid);
    void FitGridHeights();
    void DrawProfileCell(TValueListEditor* grid, int col, int row, TCellLook& look);
    void RefreshGrids();
    // After the dialog closed: both profile lists name the profile the grids hold.
    void MakeListsAgree();
    // Hands the grids' values to the application state.
    void PublishProfile();
    bool m_loading = false; // LoadProfile is filling the grids
};
