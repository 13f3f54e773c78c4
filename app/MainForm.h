#pragma once
#include "split/TrackList.h"
#include <optional>
#include "app/AppPaths.h"
#include "prefs/AppState.h"
#include "queue/JobQueue.h"
#include "split/JobController.h"
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <optional>

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
class TTimelineLoader;
class TTimelineStrip;
class EncoderRun;
class TSectionModes;

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
    TTimelineStrip* TimelineStrip = nullptr; // pictures and waveform of the bar's stretch
    TTimelineLoader* TimelineLoader = nullptr;
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
    QPushButton* btnTracks = nullptr; // which of the source's tracks the cuts keep
    QLabel* Label3 = nullptr;
    QLineEdit* edtOutputDir = nullptr;
    QPushButton* bbtnBrowse = nullptr;
    TImage* imgStart = nullptr;
    TImage* imgCancel = nullptr;
    QCheckBox* chkPreview = nullptr; // hidden; mirrors the Settings dialog's box
    TSectionModes* SectionModes = nullptr; // sections by length, size, chapters, split points
    QPushButton* btnAddToQueue = nullptr;  // the current source as a job of the queue (Ctrl+J)
    QPushButton* btnQueue = nullptr;       // shows the queue

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
    // Starts opening a source; the window runs on while the player opens it.
    void OpenSource(const QString& path);
    // Whether the player is still opening the source OpenSource named.
    bool OpeningSource() const { return m_opening; }
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
    void PreviewSourceReady(); // ... once the player has opened it: plays it, sets the scale
    void FinishOpening();      // the rest of OpenSource, after PreviewSourceReady
    void sbtnPlayPreviewClick();
    void sbtnPausePreviewClick();
    void sbtnStopPreviewClick();
    void tkbProgressTimer(QObject* sender, quint32 currentPos, quint32 stopPos);
    void tmrPreviewTimer();
    void SetupTimeline(); // key frames on the bar, zoom, the strip under it

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
    // The position shown, Go To, the marks and key frames from the keyboard.
    class TNavigator* Navigator = nullptr;

    // ---- size: the fixed layout scaled so every caption fits the font
    void FitLayoutToFont();
    double LayoutScale = 1.0;

    // ---- frame (MainFrame.cpp): resizing, full screen, the window's place
    void SetupFrame();
    // The smallest size: the form as drawn for the font, and room for added strips.
    QSize SmallestSize() const;
    // Adds `strip` across the preview region between the track bar's scale and the
    // player's buttons (a timeline, say), `height` pixels high at the default font; the
    // window's smallest height grows by it, and strips added later go below. A hidden
    // strip takes no room (call AfterStripsChanged() after showing or hiding one). May be
    // called anywhere in or after the constructor.
    void AddPreviewStrip(QWidget* strip, int height);
    // Adds `strip` to the job region between the output folder and the Split button, at
    // least `minHeight` pixels high at the default font; it takes the region's extra height.
    void AddJobStrip(QWidget* strip, int minHeight);
    void AfterStripsChanged();
    bool IsFullScreen() const;
    void SetFullScreen(bool on); // the picture alone on the whole screen; needs a source
    void ToggleFullScreen();
    bool RestorePlacement();     // false: none stored
    void SavePlacement();        // throws when the preferences cannot be written

    // ---- profiles
    void FillProfileList();
    void cmbProfileChange();
    void BitBtn1Click();

    // ---- tracks of the source
    class TrackLister* Tracks = nullptr;
    std::optional<TrackList> SourceTracks; // of edtSource's file, once listed
    QString SourceTracksPath;
    void SetupTracks();
    void ListSourceTracks(const QString& path);
    void btnTracksClick();
    void ShowTracksChoice();
    // The tracks a job on `source` keeps: all unless the user left some out.
    TrackSelection JobTracks(const QString& source) const;

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

    // ---- split points and the queue
    void SetupQueue();
    void ToggleSplitPoint(); // X: a split point at the frame shown, or away when one is there
    void AddToQueue();       // Ctrl+J
    // A job of the queue for `source` with the window's profile, output, sections and name
    // template; with the marks when withMarks. Nothing, after a message, when the sections
    // cannot be read.
    std::optional<QueueJob> QueueJobFor(const QString& source, bool withMarks);

Q_SIGNALS:
    void queueJobRequested(const QueueJob& job);
    void queueShowRequested();

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
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
    class TMainFrame* m_frame = nullptr;
    friend class TMainFrame;
    bool m_placed = false; // opened where it was last closed
    void BuildLayout();
    void FollowState();
    bool m_pickingProfile = false; // the state hears of a pick made in this list
    bool m_shownOnce = false;
    bool m_opening = false; // a source is being loaded into the preview
};
