#include "app/MainForm.h"
#include "split/SectionModeRow.h"
#include "about/AboutForm.h"
#include "about/ProgramInfo.h"
#include "app/Dialogs.h"
#include "app/Forms.h"
#include "app/ImageControl.h"
#include "app/Navigation.h"
#include "app/PathUtils.h"
#include "app/Shell.h"
#include "prefs/PreferencesStore.h"
#include "profiles/ProfileFormat.h"
#include "prefs/SettingsForm.h"
#include "preview/DSTrackBar.h"
#include "preview/TimelineStrip.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int kWidth = 840;
constexpr int kToolbarHeight = 64;
constexpr int kStripHeight = 64; // the timeline strip under the track bar
constexpr int kRegionHeight = 384;
constexpr int kLeftWidth = 460;
constexpr int kRightWidth = kWidth - kLeftWidth;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geo)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geo);
    return l;
}

QToolButton* makeToolButton(QWidget* parent, const char* name, const QString& caption, const QString& icon,
                            const QRect& geo, int iconSize)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(caption);
    b->setIcon(QIcon(icon));
    b->setIconSize(QSize(iconSize, iconSize));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true); // flat until the mouse is over it
    b->setGeometry(geo);
    // Tab reaches every button; pressing one with the mouse must not take the focus from a
    // time field.
    b->setFocusPolicy(Qt::TabFocus);
    b->setAccessibleName(caption);
    return b;
}

QLabel* makePicture(QWidget* parent, const char* name, const QString& resource)
{
    auto* p = new QLabel(parent);
    p->setObjectName(QLatin1String(name));
    p->setPixmap(QPixmap(resource));
    p->setScaledContents(true);
    p->setGeometry(parent->rect());
    // The region's own background: the mouse over it is over the region.
    p->setAttribute(Qt::WA_TransparentForMouseEvents);
    return p;
}

} // namespace

TMainForm::TMainForm(AppState& state, const QString& appDir, const QStringList& arguments)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                           | Qt::WindowCloseButtonHint),
      State(state)
{
    setObjectName(QStringLiteral("MainForm"));
    AppDir = appDir;
    BuildLayout();
    FollowState();
    FormCreate();
    Navigator = new TNavigator(this); // reads its preference from the folder just found
    // Sized once the profile names are known; the keyboard and the player's state are
    // followed before a source named on the command line starts playing.
    FitLayoutToFont();
    SetupTracks();
    SetupKeyboard();
    SetupFrame();
    AddPreviewStrip(TimelineStrip, kStripHeight);
    RestorePlacement();
    TakeSourceFromCommandLine(arguments);
    setAcceptDrops(true); // last step of the creation: dropped files are welcome from now on
}

TMainForm::~TMainForm() = default;

void TMainForm::FollowState()
{
    // The list and the state's pick are one: a pick here is the state's, and a position
    // the state gets elsewhere (the stored one) is selected here without the list's change
    // handler; the grids then load it when they hold another profile.
    connect(cmbProfile, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QScopedValueRollback<bool> own(m_pickingProfile, true);
        State.SetProfileIndex(index);
    });
    connect(&State, &AppState::profileIndexChanged, this, [this](int index) {
        if (m_pickingProfile)
            return;
        {
            const QSignalBlocker quiet(cmbProfile);
            cmbProfile->setCurrentIndex(index >= 0 && index < cmbProfile->count() ? index : -1);
        }
        const QString loaded = State.Profile().path;
        if (!loaded.isEmpty() && ProfilePath(Paths.profileRoot, cmbProfile->currentText()) != loaded)
            cmbProfileChange();
    });
    // Confirmed preferences: the fixed output folder and the preview flag come here.
    connect(&State, &AppState::preferencesConfirmed, this, [this] {
        const PreferenceValues& v = State.Preferences();
        if (v.aptotic)
            edtOutputDir->setText(v.outputDir);
        chkPreview->setChecked(v.preview);
    });
}

void TMainForm::BuildLayout()
{
    resize(kWidth, kToolbarHeight + kRegionHeight); // the smallest size; see SetupFrame
    setWindowIcon(QIcon(QStringLiteral(":/images/veltrane.png")));

    // ---- toolbar
    panToolbar = new TPanel(this);
    panToolbar->setObjectName(QStringLiteral("panToolbar"));
    panToolbar->setGeometry(0, 0, kWidth, kToolbarHeight);
    Image1 = makePicture(panToolbar, "Image1", QStringLiteral(":/images/toolbar.png"));
    sbtnOpen = makeToolButton(panToolbar, "sbtnOpen", QStringLiteral("Open Video"), QStringLiteral(":/images/open.png"),
                              QRect(10, 3, 92, 58), 32);
    sbtnSettings = makeToolButton(panToolbar, "sbtnSettings", QStringLiteral("Settings"),
                                  QStringLiteral(":/images/settings.png"), QRect(106, 3, 92, 58), 32);
    sbtnAbout = makeToolButton(panToolbar, "sbtnAbout", QStringLiteral("About"), QStringLiteral(":/images/about.png"),
                               QRect(202, 3, 92, 58), 32);
    sbtnHelp = makeToolButton(panToolbar, "sbtnHelp", QStringLiteral("Help"), QStringLiteral(":/images/help.png"),
                              QRect(298, 3, 92, 58), 32);
    for (QToolButton* b : {sbtnOpen, sbtnSettings, sbtnAbout, sbtnHelp})
        b->setStyleSheet(QStringLiteral(
            "QToolButton{color:white;font-weight:600;border:1px solid transparent;border-radius:6px;padding:2px;"
            "background:transparent;} QToolButton:hover{background:rgba(255,255,255,26);border-color:rgba(255,255,255,46);}"
            " QToolButton:pressed{background:rgba(0,0,0,60);border-color:rgba(0,0,0,90);}"
            " QToolButton:focus{border:1px dashed #ffd166;background:rgba(255,209,102,30);}"
            " QToolButton:disabled{color:#7d8aa0;}"));

    // ---- preview region
    panLeft = new TPanel(this);
    panLeft->setObjectName(QStringLiteral("panLeft"));
    panLeft->setGeometry(0, kToolbarHeight, kLeftWidth, kRegionHeight);
    Image2 = makePicture(panLeft, "Image2", QStringLiteral(":/images/preview_bg.png"));

    FilterGraph = new TFilterGraph(this);
    FilterGraph->setObjectName(QStringLiteral("FilterGraph"));
    VideoWindow = new TVideoWindow(panLeft);
    VideoWindow->setObjectName(QStringLiteral("VideoWindow"));
    VideoWindow->setGeometry(10, 10, 440, 240);
    VideoWindow->FilterGraph = FilterGraph;

    panbanner = new QWidget(panLeft);
    panbanner->setObjectName(QStringLiteral("panbanner"));
    panbanner->setGeometry(VideoWindow->geometry());
    imgBanner = makePicture(panbanner, "imgBanner", QStringLiteral(":/images/banner.png"));
    labProgramName = makeLabel(panbanner, "labProgramName", QString(), QRect(180, 186, 240, 36));
    labProgramName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    {
        QFont f = labProgramName->font();
        f.setBold(true);
        f.setItalic(true);
        f.setPointSize(20);
        labProgramName->setFont(f);
        labProgramName->setStyleSheet(QStringLiteral("color:#f4f7fb;"));
    }
    panbanner->raise();

    tkbProgress = new TDSTrackBar(panLeft);
    tkbProgress->setObjectName(QStringLiteral("tkbProgress"));
    tkbProgress->setGeometry(6, 256, 362, 26);
    tkbProgress->FilterGraph = FilterGraph;

    labCurrent = makeLabel(panLeft, "labCurrent", QStringLiteral("00:00:00"), QRect(368, 259, 86, 20));
    labCurrent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labLeft = makeLabel(panLeft, "labLeft", QStringLiteral("00:00:00"), QRect(10, 282, 80, 16));
    labLeft->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    labMiddle = makeLabel(panLeft, "labMiddle", QStringLiteral("00:00:00"), QRect(147, 282, 80, 16));
    labMiddle->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    labRight = makeLabel(panLeft, "labRight", QStringLiteral("00:00:00"), QRect(284, 282, 80, 16));
    labRight->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* l : {labCurrent, labLeft, labMiddle, labRight})
        l->setStyleSheet(QStringLiteral("color:#c9d3e0;"));

    labStart = makeLabel(panLeft, "labStart", QString(), QRect(10, 298, 10, 16));
    labEnd = makeLabel(panLeft, "labEnd", QString(), QRect(10, 298, 10, 16));
    for (QLabel* l : {labStart, labEnd}) {
        l->setStyleSheet(QStringLiteral("color:#ffd166;font-weight:600;"));
        l->hide();
    }

    TimelineStrip = new TTimelineStrip(panLeft);
    TimelineStrip->setObjectName(QStringLiteral("TimelineStrip"));

    const int by = 320;
    sbtnPlayPreview = makeToolButton(panLeft, "sbtnPlayPreview", QStringLiteral("Play"),
                                     QStringLiteral(":/images/play.png"), QRect(6, by, 72, 58), 24);
    sbtnPausePreview = makeToolButton(panLeft, "sbtnPausePreview", QStringLiteral("Pause"),
                                      QStringLiteral(":/images/pause.png"), QRect(80, by, 72, 58), 24);
    sbtnStopPreview = makeToolButton(panLeft, "sbtnStopPreview", QStringLiteral("Stop"),
                                     QStringLiteral(":/images/stop.png"), QRect(154, by, 72, 58), 24);
    sbtnSelStart = makeToolButton(panLeft, "sbtnSelStart", QStringLiteral("Start Time"),
                                  QStringLiteral(":/images/selstart.png"), QRect(234, by, 72, 58), 24);
    sbtnSelEnd = makeToolButton(panLeft, "sbtnSelEnd", QStringLiteral("End time"), QStringLiteral(":/images/selend.png"),
                                QRect(308, by, 72, 58), 24);
    sbtnErase = makeToolButton(panLeft, "sbtnErase", QStringLiteral("Clear"), QStringLiteral(":/images/clear.png"),
                               QRect(382, by, 72, 58), 24);
    for (QToolButton* b : {sbtnPlayPreview, sbtnPausePreview, sbtnStopPreview, sbtnSelStart, sbtnSelEnd, sbtnErase})
        b->setStyleSheet(QStringLiteral(
            "QToolButton{color:#e8edf3;border:1px solid transparent;border-radius:6px;padding:2px;background:transparent;}"
            " QToolButton:hover{background:rgba(255,255,255,22);border-color:rgba(255,255,255,40);}"
            " QToolButton:pressed{background:rgba(0,0,0,60);border-color:rgba(0,0,0,90);}"
            " QToolButton:focus{border:1px dashed #ffd166;background:rgba(255,209,102,30);}"
            " QToolButton:disabled{color:#6b7685;}"));

    // ---- job region
    panRight = new TPanel(this);
    panRight->setObjectName(QStringLiteral("panRight"));
    panRight->setGeometry(kLeftWidth, kToolbarHeight, kRightWidth, kRegionHeight);
    Image4 = new TImage(panRight);
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->setPixmap(QPixmap(QStringLiteral(":/images/job_bg.png")));
    Image4->setScaledContents(true);
    Image4->setGeometry(panRight->rect());

    Label2 = makeLabel(panRight, "Label2", QStringLiteral("Source:"), QRect(16, 9, 200, 18));
    edtSource = new QLineEdit(panRight);
    edtSource->setObjectName(QStringLiteral("edtSource"));
    edtSource->setGeometry(16, 27, 348, 24);

    rdbStartEnd = new QRadioButton(QStringLiteral("Split the marked rang out."), panRight);
    rdbStartEnd->setObjectName(QStringLiteral("rdbStartEnd"));
    rdbStartEnd->setGeometry(16, 59, 300, 22);
    rdbStartEnd->setChecked(true);

    Label4 = makeLabel(panRight, "Label4", QStringLiteral("Start Time:"), QRect(38, 85, 80, 22));
    edtStart = new QLineEdit(QStringLiteral("00:00:00"), panRight);
    edtStart->setObjectName(QStringLiteral("edtStart"));
    edtStart->setGeometry(122, 84, 96, 24);
    Label5 = makeLabel(panRight, "Label5", QStringLiteral("End Time:"), QRect(38, 113, 80, 22));
    edtEnd = new QLineEdit(QStringLiteral("00:00:00"), panRight);
    edtEnd->setObjectName(QStringLiteral("edtEnd"));
    edtEnd->setGeometry(122, 112, 96, 24);

    rdbEqual = new QRadioButton(QStringLiteral("Split the marked rang to "), panRight);
    rdbEqual->setObjectName(QStringLiteral("rdbEqual"));
    rdbEqual->setGeometry(16, 142, 180, 22);
    edtSectionQty = new QLineEdit(panRight);
    edtSectionQty->setObjectName(QStringLiteral("edtSectionQty"));
    edtSectionQty->setGeometry(198, 141, 44, 24);
    Label7 = makeLabel(panRight, "Label7", QStringLiteral("equal sections."), QRect(248, 142, 110, 22));

    // Sections by length, size, chapters or split points, under the equal sections.
    SectionModes = new TSectionModes(panRight, QRect(16, 167, 348, 22));

    labLength = makeLabel(panRight, "labLength", QString(), QRect(16, 189, 348, 18));
    labLength->setStyleSheet(QStringLiteral("color:#1d5fd1;"));
    labLength->hide();

    Label10 = makeLabel(panRight, "Label10", QStringLiteral("Output Profile:"), QRect(16, 206, 200, 18));
    cmbProfile = new QComboBox(panRight);
    cmbProfile->setObjectName(QStringLiteral("cmbProfile"));
    cmbProfile->setEditable(false);
    cmbProfile->setGeometry(16, 222, 264, 26);
    BitBtn1 = new QPushButton(QIcon(QStringLiteral(":/images/detail.png")), QStringLiteral("Detail"), panRight);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(286, 222, 78, 26);
    btnTracks = new QPushButton(QStringLiteral("Tracks"), panRight);
    btnTracks->setObjectName(QStringLiteral("btnTracks"));
    btnTracks->setFlat(true);
    btnTracks->setGeometry(246, 206, 118, 18);

    Label3 = makeLabel(panRight, "Label3", QStringLiteral("Output Path:"), QRect(16, 247, 200, 18));
    edtOutputDir = new QLineEdit(panRight);
    edtOutputDir->setObjectName(QStringLiteral("edtOutputDir"));
    edtOutputDir->setGeometry(16, 264, 264, 24);
    bbtnBrowse = new QPushButton(QIcon(QStringLiteral(":/images/browse.png")), QStringLiteral("Browse"), panRight);
    bbtnBrowse->setObjectName(QStringLiteral("bbtnBrowse"));
    bbtnBrowse->setGeometry(286, 263, 78, 26);

    chkPreview = new QCheckBox(QStringLiteral("Preview"), panRight);
    chkPreview->setObjectName(QStringLiteral("chkPreview"));
    chkPreview->hide();

    const int faceX = (kRightWidth - 133) / 2;
    const int faceY = 303;
    imgStart = new TImage(panRight);
    imgStart->setObjectName(QStringLiteral("imgStart"));
    imgStart->setGeometry(faceX, faceY, 133, 65);
    imgStart->setCursor(Qt::PointingHandCursor);
    imgStart->MakeButton(QStringLiteral("Split"));
    imgCancel = new TImage(panRight);
    imgCancel->setObjectName(QStringLiteral("imgCancel"));
    imgCancel->setGeometry(faceX, faceY, 133, 65);
    imgCancel->setCursor(Qt::PointingHandCursor);
    imgCancel->MakeButton(QStringLiteral("Stop"));
    imgCancel->hide();

    // ---- progress panel, covering the job fields during a job
    panProgress = new TPanel(panRight);
    panProgress->setObjectName(QStringLiteral("panProgress"));
    panProgress->setGeometry(0, 0, kRightWidth, 100);
    imgProgressBack = new QLabel(panProgress);
    imgProgressBack->setObjectName(QStringLiteral("imgProgressBack"));
    imgProgressBack->setPixmap(QPixmap(QStringLiteral(":/images/progress_bg.png")));
    imgProgressBack->setScaledContents(true);
    imgProgressBack->setGeometry(0, 0, kRightWidth, 289);
    imgProgressBack->setAttribute(Qt::WA_TransparentForMouseEvents);
    labProcessing = makeLabel(panProgress, "labProcessing", QString(), QRect(18, 13, 344, 40)); // 2 lines
    {
        QFont f = labProcessing->font();
        f.setBold(true);
        labProcessing->setFont(f);
    }
    labCurrentCaption = makeLabel(panProgress, "labCurrentCaption", QStringLiteral("Current:"), QRect(18, 66, 70, 20));
    pgbCurrent = new QProgressBar(panProgress);
    pgbCurrent->setObjectName(QStringLiteral("pgbCurrent"));
    pgbCurrent->setGeometry(92, 66, 180, 20);
    labCurProgress = makeLabel(panProgress, "labCurProgress", QStringLiteral("0%"), QRect(278, 66, 48, 20));
    labTotalCaption = makeLabel(panProgress, "labTotalCaption", QStringLiteral("Total:"), QRect(18, 100, 70, 20));
    pgbTotal = new QProgressBar(panProgress);
    pgbTotal->setObjectName(QStringLiteral("pgbTotal"));
    pgbTotal->setGeometry(92, 100, 180, 20);
    labTotalProgress = makeLabel(panProgress, "labTotalProgress", QStringLiteral("0%"), QRect(278, 100, 48, 20));
    for (QProgressBar* p : {pgbCurrent, pgbTotal}) {
        p->setRange(0, 100);
        p->setValue(0);
        p->setTextVisible(false);
    }
    labElapsedCaption = makeLabel(panProgress, "labElapsedCaption", QStringLiteral("Elapsed:"), QRect(18, 150, 80, 20));
    labElapsed = makeLabel(panProgress, "labElapsed", QString(), QRect(110, 150, 120, 20));
    labRemainingCaption =
        makeLabel(panProgress, "labRemainingCaption", QStringLiteral("Remaining:"), QRect(18, 178, 80, 20));
    labRemaining = makeLabel(panProgress, "labRemaining", QString(), QRect(110, 178, 120, 20));
    panProgress->hide();

    // Tab order of the job region.
    setTabOrder(edtSource, rdbStartEnd);
    setTabOrder(rdbStartEnd, edtStart);
    setTabOrder(edtStart, edtEnd);
    setTabOrder(edtEnd, rdbEqual);
    setTabOrder(rdbEqual, edtSectionQty);
    setTabOrder(edtSectionQty, cmbProfile);
    setTabOrder(cmbProfile, btnTracks);
    setTabOrder(btnTracks, BitBtn1);
    setTabOrder(BitBtn1, edtOutputDir);
    setTabOrder(edtOutputDir, bbtnBrowse);

    // ---- non-visual
    tmrPreview = new QTimer(this);
    tmrPreview->setObjectName(QStringLiteral("tmrPreview"));
    tmrPreview->setInterval(1000);
    tmrProcess = new QTimer(this);
    tmrProcess->setObjectName(QStringLiteral("tmrProcess"));
    tmrProcess->setInterval(1000);

    static const char* const faces[6] = {"start_normal", "start_hover", "start_pressed",
                                         "stop_normal",  "stop_hover",  "stop_pressed"};
    for (const char* f : faces)
        iglStart.append(QPixmap(QStringLiteral(":/images/%1.png").arg(QLatin1String(f))));
    DrawFace(imgStart, 0);
    DrawFace(imgCancel, 3);

    // ---- wiring of this window's own handlers
    connect(sbtnOpen, &QToolButton::clicked, this, &TMainForm::sbtnOpenClick);
    connect(sbtnSettings, &QToolButton::clicked, this, &TMainForm::sbtnSettingsClick);
    connect(sbtnAbout, &QToolButton::clicked, this, &TMainForm::sbtnAboutClick);
    connect(sbtnHelp, &QToolButton::clicked, this, &TMainForm::sbtnHelpClick);
    connect(imgStart, &TImage::mouseMoved, this, &TMainForm::imgStartMouseMove);
    connect(imgStart, &TImage::mouseDown, this, &TMainForm::imgStartMouseDown);
    connect(imgStart, &TImage::mouseUp, this, &TMainForm::imgStartMouseUp);
    connect(imgCancel, &TImage::mouseMoved, this, &TMainForm::imgCancelMouseMove);
    connect(imgCancel, &TImage::mouseDown, this, &TMainForm::imgCancelMouseDown);
    connect(imgCancel, &TImage::mouseUp, this, &TMainForm::imgCancelMouseUp);
    connect(panLeft, &TPanel::mouseMoved, this, &TMainForm::imgRightBottomMouseMove);
    connect(panRight, &TPanel::mouseMoved, this, &TMainForm::imgRightBottomMouseMove);
    connect(panProgress, &TPanel::mouseMoved, this, &TMainForm::imgRightBottomMouseMove);
    connect(Image4, &TImage::mouseMoved, this, &TMainForm::Image4MouseMove);
    connect(cmbProfile, &QComboBox::activated, this, [this](int) { cmbProfileChange(); });
    connect(BitBtn1, &QPushButton::clicked, this, &TMainForm::BitBtn1Click);
    connect(bbtnBrowse, &QPushButton::clicked, this, &TMainForm::bbtnBrowseClick);
    for (QLineEdit* e : {edtStart, edtEnd, edtSectionQty})
        e->installEventFilter(this);
    installEventFilter(this); // the window's own enabling, for the time fields' focus

    SetupPreview();
    SetupTimeline();
    SetupRange();
    SetupJob();
    SetupQueue();
    SetupSegments();
}

void TMainForm::FormCreate()
{
    // A folder named by the caller is used as a portable one; otherwise the executable's
    // folder tells a portable copy from an installed program.
    Paths = AppDir.isEmpty() ? ResolveAppPaths(QCoreApplication::applicationDirPath()) : PortableAppPaths(AppDir);
    AppDir = Paths.appDir;
    EncoderPath = Paths.encoderPath;
    State.paths = Paths;
    // An installed program's first start: the user's folders and the shipped profiles.
    RunGuarded([this] { PrepareUserFiles(Paths); });

    SourceLoaded = false;
    panProgress->resize(panProgress->width(), 289);

    VersionText = ReadVersionText(PreferencesStore(Paths));
    State.versionText = VersionText;

    InitProgramInfoValues(Paths.helpDir);
    const ProgramInfoValues& info = ProgramInfo();
    // Not the display name: X11 would append it to every window title.
    SetApplicationTitle(info.productName);
    HelpFile = info.helpFile;
    setWindowTitle(MainCaption(info.productName, VersionText));
    labProgramName->setText(BannerText(info.productName));

    SupportedExts = SupportedExtensions();
    OpenFilter = BuildOpenFilter(SupportedExts);

    // A missing profile folder is reported, and the rest of the start-up still runs.
    RunGuarded([this] { FillProfileList(); });
}

void TMainForm::TakeSourceFromCommandLine(const QStringList& arguments)
{
    // Whatever goes wrong here, the window still opens as usual.
    RunGuarded([&] {
        const QString candidate = ArgumentCandidate(arguments.value(0));
        if (!SourceExists(candidate))
            return;
        if (!HasSupportedExtension(candidate)) {
            ShowMessage(this, MsgIcon::Information, QStringLiteral("Unsupported File"),
                        UnsupportedFileMessage(candidate, SupportedExts));
            return;
        }
        OpenSource(candidate);
    });
}

bool TMainForm::HasSupportedExtension(const QString& path) const
{
    return ::HasSupportedExtension(path, SupportedExts);
}

void TMainForm::OpenSource(const QString& path)
{
    // The player opens the file while the window runs on; a drop arriving meanwhile must not
    // start a second opening (m_opening holds until the player has decided).
    m_opening = true;
    panbanner->hide();
    edtSource->setText(path);
    if (!PreferencesStore(Paths).GetFlag(QStringLiteral("Main"), QStringLiteral("Aptotic"), true))
        edtOutputDir->setText(WithTrailingBackslash(ExtractFolder(path)));
    SourceLoaded = true;
    ListSourceTracks(path);

    // The player decides later: FinishOpening follows once it plays the source; a file it
    // cannot render is reported then, and the remaining steps are not done.
    try {
        LoadSourceIntoPreview(path);
    } catch (...) {
        m_opening = false;
        throw;
    }
}

void TMainForm::FinishOpening()
{
    m_opening = false;
    tkbProgress->SetSelStart(0);
    tkbProgress->SetSelEnd(0);
    labStart->hide();
    labEnd->hide();
    ResetMarks();
    SectionModes->ClearPoints(); // they belong to the source
    labLength->hide();
    VideoWindow->show();
}

void TMainForm::sbtnOpenClick()
{
    const QString path = RunOpenDialog(this, OpenFilter);
    if (!path.isEmpty())
        OpenSource(path);
}

void TMainForm::WMDropFiles(const QStringList& paths)
{
    if (!panProgress->isHidden() || m_opening || paths.isEmpty())
        return;
    // The whole path counts, however long: a shortened one could name another file.
    const QString path = paths.first();
    if (!SourceExists(path))
        return;
    if (!HasSupportedExtension(path)) {
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Unsupported File"),
                    UnsupportedFileMessage(path, SupportedExts));
        return;
    }
    OpenSource(path);
}

void TMainForm::sbtnHelpClick()
{
    ShellOpen(HelpFile);
}

void TMainForm::sbtnSettingsClick()
{
    SettingForm->show();
    SettingForm->raise();
    SettingForm->activateWindow();
}

void TMainForm::sbtnAboutClick()
{
    AboutForm->show();
    AboutForm->raise();
    AboutForm->activateWindow();
}

// ---- image-button faces

void TMainForm::DrawFace(TImage* image, int position)
{
    if (position >= 0 && position < iglStart.size())
        image->setPixmap(iglStart.at(position));
}

void TMainForm::imgStartMouseMove()
{
    if (imgStart->Tag == 0) {
        imgStart->Tag = 1;
        DrawFace(imgStart, 1);
    }
}

void TMainForm::imgStartMouseDown()
{
    imgStart->Tag = 2;
    DrawFace(imgStart, 2);
}

void TMainForm::imgStartMouseUp()
{
    imgStart->Tag = 1;
    DrawFace(imgStart, 1);
}

void TMainForm::imgCancelMouseMove()
{
    if (imgCancel->Tag == 0) {
        imgCancel->Tag = 1;
        DrawFace(imgCancel, 4);
    }
}

void TMainForm::imgCancelMouseDown()
{
    imgCancel->Tag = 2;
    DrawFace(imgCancel, 5);
}

void TMainForm::imgCancelMouseUp()
{
    imgCancel->Tag = 1;
    DrawFace(imgCancel, 4);
}

void TMainForm::imgRightBottomMouseMove()
{
    if (imgStart->Tag != 0) {
        imgStart->Tag = 0;
        DrawFace(imgStart, 0);
    }
    if (imgCancel->Tag != 0) {
        imgCancel->Tag = 0;
        DrawFace(imgCancel, 3);
    }
}

void TMainForm::Image4MouseMove()
{
    imgRightBottomMouseMove();
}

// ---- showing and closing

void TMainForm::FormShow()
{
    cmbProfileChange();
}

void TMainForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!m_shownOnce) {
        m_shownOnce = true;
        QScreen* s = screen();
        if (s && !m_placed)
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
        RunGuarded([this] { FormShow(); });
    }
}

bool TMainForm::FormCloseQuery()
{
    if (JobState() != JobController::State::Running)
        return true;
    return AskToCancelJob(QStringLiteral("Exit Query"), QStringLiteral("Do you want to cancel the splitting and exit?"));
}

void TMainForm::FormClose()
{
    // A refused write is shown; the program still ends.
    RunGuarded([this] {
        State.WritePreferences(State.Preferences());
        SavePlacement();
    });
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    bool canClose = true;
    RunGuarded([&] { canClose = FormCloseQuery(); });
    if (!canClose) {
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
    // Closing the main window ends the program, dialogs included.
    QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
}

// ---- drops

void TMainForm::dragEnterEvent(QDragEnterEvent* e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void TMainForm::dragMoveEvent(QDragMoveEvent* e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* e)
{
    e->acceptProposedAction();
    DropUrls(e->mimeData()->urls());
}

void TMainForm::DropUrls(const QList<QUrl>& urls)
{
    // Every item keeps its place: one that is no local file stands as an empty path, so it
    // is still the first and nothing after it is opened instead.
    QStringList paths;
    for (const QUrl& url : urls)
        paths << (url.isLocalFile() ? url.toLocalFile() : QString());
    WMDropFiles(paths);
}

// ---- field events

bool TMainForm::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == edtStart || watched == edtEnd) {
        auto* field = static_cast<QLineEdit*>(watched);
        const bool start = field == edtStart;
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                RunGuarded([&] { start ? edtStartKeyPress(QChar(13)) : edtEndKeyPress(QChar(13)); });
                return false;
            }
        } else if (e->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(e)->reason();
            if (!field->isEnabled()) {
                // A dialog disabled the window under the field: the user has not moved on.
                FieldToRefocus = field;
            } else if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                // Only moving to another control counts as leaving the field, not a window switch.
                RunGuarded([&] { start ? edtStartExit() : edtEndExit(); });
            }
        }
    } else if (watched == edtSectionQty && e->type() == QEvent::MouseButtonRelease) {
        // A click: the left button pressed and released over the field.
        auto* m = static_cast<QMouseEvent*>(e);
        if (m->button() == Qt::LeftButton && edtSectionQty->rect().contains(m->position().toPoint()))
            RunGuarded([this] { edtSectionQtyClick(); });
    } else if (watched == this && e->type() == QEvent::EnabledChange && isEnabled()) {
        if (FieldToRefocus && !focusWidget())
            FieldToRefocus->setFocus(Qt::OtherFocusReason);
        FieldToRefocus = nullptr;
    }
    return QWidget::eventFilter(watched, e);
}
