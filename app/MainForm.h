#pragma once
#include "app/AppPaths.h"
#include "prefs/AppState.h"
#include "split/JobController.h"
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProcess;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QShortcut;
class QTimer;
class QToolButton;
class TImage;
class TPanel;
class TFilterGraph;
class TVideoWindow;
class TDSTrackBar;
class EncoderRun;

// The one main window: toolbar, preview region, job region.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    // state: what the windows share. appDir: empty for the executable's folder.
    // arguments: the program's arguments.
    explicit TMainForm(AppState& state, const QString& appDir = QString(),
                       const QStringList& arguments = QStringList());
    ~TMainForm() override;

    AppState& State;

    // ---- program-wide values (set while the window is created)
    QString AppDir;       // ends in the separator
    AppPaths Paths;       // where preferences, profiles, the encoder and help live
    QString EncoderPath;  // the encoder of Paths
    QString VersionText;
    QString HelpFile;
    QStringList SupportedExts;
    QString OpenFilter;

    bool SourceLoaded = false;
    JobController* Job = nullptr; // the split job the window shows
    JobController::State JobState() const { return Job ? Job->CurrentState() : JobController::State::Idle; }
    int ElapsedCounter = 0;  // seconds of work shown since the job began
    QString CurrentCommandLine;

    // ---- toolbar
    TPanel* panToolbar = nullptr;
    QLabel* Image1 = nullptr;
    QToolButton* sbtnOpen = nullptr;
    QToolButton* sbtnSettings = nullptr;
    QToolButton* sbtnAbout = nullptr;
    QToolButton* sbtnHelp = nullptr;

    // ---- preview region
    TPanel* panLeft = nullptr;
    QLabel* Image2 = nullptr;
    TFilterGraph* FilterGraph = nullptr;
    TVideoWindow* VideoWindow = nullptr;
    QWidget* panbanner = nullptr;
    QLabel* imgBanner = nullptr;
    QLabel* labProgramName = nullptr;
    TDSTrackBar* tkbProgress = nullptr;
    QLabel* labLeft = nullptr;
    QLabel* labMiddle = nullptr;
    QLabel* labRight = nullptr;
    QLabel* labCurrent = nullptr;
    QLabel* labStart = nullptr;
    QLabel* labEnd = nullptr;
    QToolButton* sbtnPlayPreview = nullptr;
    QToolButton* sbtnPausePreview = nullptr;
    QToolButton* sbtnStopPreview = nullptr;
    QToolButton* sbtnSelStart = nullptr;
    QToolButton* sbtnSelEnd = nullptr;
    QToolButton* sbtnErase = nullptr;

    // ---- job region
    TPanel* panRight = nullptr;
    TImage* Image4 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edtSource = nullptr;
    QRadioButton* rdbStartEnd = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* edtStart = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* edtEnd = nullptr;
    QRadioButton* rdbEqual = nullptr;
    QLineEdit* edtSectionQty = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* labLength = nullptr;
    QLabel* Label10 = nullptr;
    QComboBox* cmbProfile = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* edtOutputDir = nullptr;
    QPushButton* bbtnBrowse = nullptr;
    TImage* imgStart = nullptr;
    TImage* imgCancel = nullptr;
    QCheckBox* chkPreview = nullptr; // hidden; mirrors the Settings dialog's box

    // ---- progress panel
    TPanel* panProgress = nullptr;
    QLabel* imgProgressBack = nullptr;
    QLabel* labProcessing = nullptr;
    QLabel* labCurrentCaption = nullptr;   // "Current:"
    QProgressBar* pgbCurrent = nullptr;
    QLabel* labCurProgress = nullptr;
    QLabel* labTotalCaption = nullptr;     // "Total:"
    QProgressBar* pgbTotal = nullptr;
    QLabel* labTotalProgress = nullptr;
    QLabel* labElapsedCaption = nullptr;   // "Elapsed:"
    QLabel* labElapsed = nullptr;
    QLabel* labRemainingCaption = nullptr; // "Remaining:"
    QLabel* labRemaining = nullptr;

    // ---- non-visual
    QTimer* tmrPreview = nullptr;
    QTimer* tmrProcess = nullptr;
    QVector<QPixmap> iglStart; // six faces of 133 x 65

    // ---- start-up and main window
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();   // false keeps the window open
    void FormClose();
    void OpenSource(const QString& path);
    bool HasSupportedExtension(const QString& path) const;
    void TakeSourceFromCommandLine(const QStringList& arguments);
    void sbtnOpenClick();
    void WMDropFiles(const QStringList& paths);
    void sbtnHelpClick();
    void sbtnSettingsClick();
    void sbtnAboutClick();
    void DrawFace(TImage* image, int position);
    void imgStartMouseMove();
    void imgStartMouseDown();
    void imgStartMouseUp();
    void imgCancelMouseMove();
    void imgCancelMouseDown();
    void imgCancelMouseUp();
    void imgRightBottomMouseMove();
    void Image4MouseMove();

    // ---- preview
    void SetupPreview();  // wires the player, track bar and buttons
    void LoadSourceIntoPreview(const QString& path); // the player's steps of OpenSource
    void sbtnPlayPreviewClick();
    void sbtnPausePreviewClick();
    void sbtnStopPreviewClick();
    void tkbProgressTimer(QObject* sender, quint32 currentPos, quint32 stopPos);
    void tmrPreviewTimer();

    // ---- marked range
    void SetupRange();
    void edtStartKeyPress(QChar key);
    void edtStartExit();
    void edtEndKeyPress(QChar key);
    void edtEndExit();
    void ApplyStartTime(double seconds);
    void ApplyEndTime(double seconds);
    void ShowRangeLength();
    void PlaceStartMark();
    void PlaceEndMark();
    void sbtnSelStartClick();
    void sbtnSelEndClick();
    void sbtnEraseClick();
    void edtSectionQtyClick();
    // A time field that lost the focus only because a dialog disabled the window; it gets
    // the focus back when the window is enabled again.
    QPointer<QLineEdit> FieldToRefocus;
    // The time of the frame shown, for a mark; the thumb's position when no frame is known.
    double FrameTimeForMark() const;
    // Start and end as the split job takes them: the exact time of the mark while its
    // field still shows that mark's text, else what the field reads as a time code (-1
    // when it reads as none).
    double StartSecondsForJob() const;
    double EndSecondsForJob() const;
    // The same as texts for the job's time-code checks: the field's own text, or a time
    // code that reads back as the exact mark.
    QString StartTextForJob() const;
    QString EndTextForJob() const;
    // Both marks back to 0 with the text "00:00:00".
    void ResetMarks();

    // ---- keyboard and screen readers
    void SetupKeyboard();  // focus order, shortcuts, tool tips, accessible names
    void TogglePlay();     // Space
    void StepFrame(int direction); // Left/Right while paused
    void SeekBy(double seconds);   // Shift+Left/Right
    void SeekToStart();            // Home
    void SeekToEnd();              // End
    bool Playing() const;
    // A dropped item list, from the window or any control on it.
    void DropUrls(const QList<QUrl>& urls);
    QList<QShortcut*> Shortcuts;

    // ---- size: the fixed layout scaled so every caption fits the font
    void FitLayoutToFont();
    double LayoutScale = 1.0;

    // ---- profiles
    void FillProfileList();
    void cmbProfileChange();
    void BitBtn1Click();

    // ---- output folder
    void bbtnBrowseClick();

    // ---- split job
    void SetupJob();
    void imgStartClick();
    void RunSplitJob(const QString& profileSwitches);
    void LockForJob();
    void UnlockAfterJob();
    void StopEncoder();
    void tmrProcessTimer();
    void imgCancelClick();
    void Completion();
    // The job is over: the completion, or what stopped it.
    void JobEnded(SplitJob::Outcome outcome);
    // Asks `text` with Yes and No while the job is held; Yes cancels it and returns true.
    bool AskToCancelJob(const QString& caption, const QString& text);
    EncoderRun* CurrentRun = nullptr; // the running section's encoder, if any

    // ---- segments (segments/SegmentsMain.cpp): several ranges, apart or joined
    void SetupSegments();
    class TSegmentsPanel* Segments = nullptr;
    QToolButton* sbtnSegments = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct TMark {
        double seconds = 0;
        QString text = QStringLiteral("00:00:00");
    };
    TMark m_startMark;
    TMark m_endMark;
    bool m_playing = false;
    class TInputRouter* m_inputRouter = nullptr;
    friend class TInputRouter;
    void ShowPlayerTime(double seconds);
    void BuildLayout();
    void FollowState();
    bool m_pickingProfile = false; // the state hears of a pick made in this list
    bool m_shownOnce = false;
    bool m_opening = false; // a source is being loaded into the preview
};
