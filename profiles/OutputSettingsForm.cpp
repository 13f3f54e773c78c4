#include "profiles/OutputSettingsForm.h"
#include "app/PathUtils.h"
#include "app/WindowHelpers.h"
#include "prefs/AppState.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ProfileSaveDialog.h"
#include "profiles/ValueListEditor.h"
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QHideEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

const QString kVideoSize = QStringLiteral("Video Size");
const QString kOriginalSize = QStringLiteral("Original Size");
const QString kCustomSize = QStringLiteral("Custom Size");

constexpr int kWidth = 420;
constexpr int kHeight = 500;
constexpr int kHeaderHeight = 22;
constexpr int kRowPitch = TValueListEditor::RowHeight + TValueListEditor::GridLineWidth;

QLabel* makeHeader(QWidget* parent, const char* name, const QString& caption)
{
    auto* pan = new QLabel(caption, parent);
    pan->setObjectName(QLatin1String(name));
    pan->setFixedHeight(kHeaderHeight);
    // Bold on the shadow colour of buttons.
    pan->setStyleSheet(QStringLiteral("QLabel{background-color:palette(mid);font-weight:bold;}"));
    pan->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return pan;
}

QPushButton* makeCollapseButton(QLabel* header, const char* name)
{
    auto* b = new QPushButton(QStringLiteral("-"), header);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(3, 3, 16, 16);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QStringLiteral("QPushButton{padding:0;font-weight:bold;}"));
    return b;
}

TValueListEditor* makeGrid(QWidget* parent, const char* name, const QStringList& keys)
{
    auto* g = new TValueListEditor(parent);
    g->setObjectName(QLatin1String(name));
    for (const QString& k : keys)
        g->InsertRow(k, QString());
    g->setFixedHeight(kRowPitch * g->RowCount());
    return g;
}

} // namespace

TopSettingForm::TopSettingForm(AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), State(state)
{
    setObjectName(QStringLiteral("opSettingForm"));
    BuildLayout();
    FormCreate();
}

void TopSettingForm::BuildLayout()
{
    setWindowTitle(QStringLiteral("Profile"));
    setFixedSize(kWidth, kHeight);

    cmbProfile = new QComboBox(this);
    cmbProfile->setObjectName(QStringLiteral("cmbProfile"));
    cmbProfile->setEditable(false);
    cmbProfile->setGeometry(12, 12, 274, 26);
    btnSaveAs = new QPushButton(QStringLiteral("&Save as..."), this);
    btnSaveAs->setObjectName(QStringLiteral("btnSaveAs"));
    btnSaveAs->setGeometry(294, 12, 114, 26);

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setGeometry(12, 48, kWidth - 24, kHeight - 48 - 48);
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("ScrollBox1Content"));
    content->setAutoFillBackground(true);
    content->setBackgroundRole(QPalette::Base);
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    // Each element sits right below the one before it, so a grid's height decides where
    // the next header starts.
    panVideo = makeHeader(content, "panVideo", QStringLiteral("      Video"));
    btnVideo = makeCollapseButton(panVideo, "btnVideo");
    vleVideo = makeGrid(content, "vleVideo",
                        {QStringLiteral("Video Codec"), kVideoSize, QStringLiteral("Bit Rate"),
                         QStringLiteral("Frame Rate"), QStringLiteral("Aspect"), QStringLiteral("Disable Video")});
    panAudio = makeHeader(content, "panAudio", QStringLiteral("      Audio"));
    btnAudio = makeCollapseButton(panAudio, "btnAudio");
    vleAudio = makeGrid(content, "vleAudio",
                        {QStringLiteral("Audio Codec"), QStringLiteral("Audio Bitrate"), QStringLiteral("Sample Rate"),
                         QStringLiteral("Channels"), QStringLiteral("Volumn"), QStringLiteral("Disable Audio")});
    panAdvanced = makeHeader(content, "panAdvanced", QStringLiteral("      Advanced"));
    btnAdvanced = makeCollapseButton(panAdvanced, "btnAdvanced");
    vleAdvanced = makeGrid(content, "vleAdvanced",
                           {QStringLiteral("Bit Exact Algorithms"), QStringLiteral("Deinterlace")});
    for (QWidget* w : std::initializer_list<QWidget*>{panVideo, vleVideo, panAudio, vleAudio, panAdvanced, vleAdvanced})
        stack->addWidget(w);
    stack->addStretch(1);
    ScrollBox1->setWidget(content);

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(kWidth - 12 - 84 - 8 - 84, kHeight - 38, 84, 26);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(kWidth - 12 - 84, kHeight - 38, 84, 26);

    memDescription = new QPlainTextEdit(QStringLiteral("Description:"), this);
    memDescription->setObjectName(QStringLiteral("memDescription"));
    memDescription->hide();
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->hide();

    connect(cmbProfile, &QComboBox::activated, this, [this](int) { cmbProfileChange(); });
    connect(btnSaveAs, &QPushButton::clicked, this, &TopSettingForm::btnSaveAsClick);
    connect(Button1, &QPushButton::clicked, this, &TopSettingForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TopSettingForm::Button2Click);
    connect(btnVideo, &QPushButton::clicked, this, &TopSettingForm::btnVideoClick);
    connect(btnAudio, &QPushButton::clicked, this, &TopSettingForm::btnAudioClick);
    connect(btnAdvanced, &QPushButton::clicked, this, &TopSettingForm::btnAdvancedClick);
    connect(vleVideo, &TValueListEditor::StringsChange, this, &TopSettingForm::vleVideoStringsChange);
    connect(vleVideo, &TValueListEditor::MouseDown, this, &TopSettingForm::vleVideoMouseDown);
    connect(vleAudio, &TValueListEditor::MouseDown, this, &TopSettingForm::vleAudioMouseDown);
    connect(vleAdvanced, &TValueListEditor::MouseDown, this, &TopSettingForm::vleAdvancedMouseDown);
    vleVideo->OnDrawCell = [this](int c, int r, TCellLook& l) { vleVideoDrawCell(c, r, l); };
    vleAudio->OnDrawCell = [this](int c, int r, TCellLook& l) { vleAudioDrawCell(c, r, l); };
    vleAdvanced->OnDrawCell = [this](int c, int r, TCellLook& l) { vleAdvancedDrawCell(c, r, l); };

    setTabOrder(cmbProfile, btnSaveAs);
    setTabOrder(btnSaveAs, vleVideo);
    setTabOrder(vleVideo, vleAudio);
    setTabOrder(vleAudio, vleAdvanced);
    setTabOrder(vleAdvanced, Button1);
    setTabOrder(Button1, Button2);
}

void TopSettingForm::FormCreate()
{
    cmbProfile->clear();
    cmbProfile->addItems(State.profileNames);
    cmbProfile->setCurrentIndex(-1);
    // Whatever changes a value, the state has the profile's values as they now are.
    for (TValueListEditor* grid : {vleVideo, vleAudio, vleAdvanced})
        connect(grid, &TValueListEditor::StringsChange, this, &TopSettingForm::PublishProfile);
}

void TopSettingForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!e->spontaneous())
        CentreOverMainForm(this);
}

void TopSettingForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    // However the dialog goes (OK, Cancel, its close box), the main window then names the
    // profile the grids hold, so a job never mixes two profiles.
    if (!e->spontaneous())
        MakeListsAgree();
}

void TopSettingForm::MakeListsAgree()
{
    const int mine = cmbProfile->currentIndex();
    const int theirs = State.ProfileIndex();
    if (mine == theirs)
        return;
    const auto holds = [this](int index) {
        return index >= 0 && index < cmbProfile->count() && !LoadedProfilePath.isEmpty()
               && ProfilePath(State.paths.profileRoot, cmbProfile->itemText(index)) == LoadedProfilePath;
    };
    if (holds(mine)) {
        // The profile chosen here is the one in force: the main list follows it, without
        // reloading (that would drop the edits made here).
        State.SetProfileIndex(mine);
        return;
    }
    // The grids hold the main list's profile (it was chosen there meanwhile), or neither
    // (the profile chosen here could not be loaded): this list follows the main one.
    cmbProfile->setCurrentIndex(theirs);
    if (!holds(theirs)) {
        const QString path = ProfilePath(State.paths.profileRoot, State.ProfileName(theirs));
        if (SourceExists(path))
            LoadProfile(path);
    }
}

void TopSettingForm::ShowForProfile(int index)
{
    show();
    raise();
    activateWindow();
    // Same position: the grids keep their unsaved edits. Otherwise that profile is loaded
    // afresh.
    if (cmbProfile->currentIndex() != index) {
        cmbProfile->setCurrentIndex(index);
        cmbProfileChange();
    }
}

void TopSettingForm::PublishProfile()
{
    if (m_loading)
        return;
    ProfileChoice choice;
    choice.path = LoadedProfilePath;
    choice.extension = OutputExtension;
    for (int sort = 1; sort <= 3; ++sort) {
        const TValueListEditor* grid = GridForSort(sort);
        QHash<QString, QString>& values = choice.values[sort];
        for (int row = 0; row < grid->EntryCount(); ++row) {
            const QString key = grid->Key(row);
            if (!values.contains(key)) // the first row of a name is the one that counts
                values.insert(key, grid->ValueAt(row));
        }
    }
    State.SetProfile(choice);
}

void TopSettingForm::SetVideoSize(const QString& size)
{
    vleVideo->SetValue(kVideoSize, size);
}

void TopSettingForm::DropCustomSize()
{
    // No size given: the row falls back to the source's own size.
    if (vleVideo->Value(kVideoSize) == kCustomSize)
        vleVideo->SetValue(kVideoSize, kOriginalSize);
}

QString TopSettingForm::SelectedProfilePath() const
{
    return ProfilePath(State.paths.profileRoot, cmbProfile->currentText());
}

TValueListEditor* TopSettingForm::GridForSort(int sort) const
{
    return sort == 1 ? vleVideo : sort == 2 ? vleAudio : sort == 3 ? vleAdvanced : nullptr;
}

void TopSettingForm::FitGridHeights()
{
    // Every grid, a collapsed one too, gets the height of its rows; the collapse buttons
    // keep their captions.
    for (TValueListEditor* grid : {vleVideo, vleAudio, vleAdvanced})
        grid->setFixedHeight(kRowPitch * grid->RowCount());
}

void TopSettingForm::LoadProfile(const QString& path)
{
    if (!SourceExists(path))
        return;
    // The whole file is read first: a file that cannot be read leaves the grids as they are.
    const ProfileContent content = ReadProfile(path);
    LoadedProfilePath = path;
    // The grids get their heights, and the state the values, even when a bad "Index"
    // stops the loading; the values are handed on once, when all are in.
    struct Fit {
        TopSettingForm* form;
        ~Fit()
        {
            form->FitGridHeights();
            form->m_loading = false;
            form->PublishProfile();
        }
    } fit{this};
    m_loading = true;
    for (TValueListEditor* grid : {vleVideo, vleAudio, vleAdvanced})
        grid->Clear();
    OutputExtension = QLatin1Char('.') + content.type;

    for (const ProfileParameter& p : content.parameters) {
        // A parameter that names no grid is not shown (and so adds no grid value).
        TValueListEditor* grid = GridForSort(p.sort);
        if (!grid)
            continue;
        // The row comes first, with an empty value and the file's read-only mark ...
        const int row = grid->InsertRow(p.name, QString());
        TItemProp props;
        props.ReadOnly = p.readOnly;
        grid->SetItemProps(row, props);
        if (p.list) {
            // ... then its pick list, and only then its value: a bad "Index" ends the
            // loading here, leaving the row with its pick list and no value.
            props.EditStyle = esPickList;
            props.PickList = SplitItems(p.caption);
            grid->SetItemProps(row, props);
            grid->SetValueAt(row, ItemAt(props.PickList, p.index));
            props.ReadOnly = true;
            grid->SetItemProps(row, props);
        } else {
            grid->SetValueAt(row, p.caption);
        }
    }
}

void TopSettingForm::SaveProfileValues(const QString& path)
{
    SaveProfileValuesTo(path, [this](int sort, const QString& name) -> std::optional<GridRowValue> {
        const TValueListEditor* grid = GridForSort(sort);
        const int row = grid ? grid->FindRow(name) : -1;
        if (row < 0)
            return std::nullopt;
        return GridRowValue{grid->ValueAt(row), grid->ItemProps(row).PickList};
    });
}

void TopSettingForm::CopyProfile(const QString& source, const QString& target)
{
    if (!SourceExists(source))
        return;
    // Saving a profile onto itself needs no copy, and copying would empty it first.
    const QFileInfo from(source), to(target);
    if (!(to.exists() && from.canonicalFilePath() == to.canonicalFilePath()))
        CopyProfileFile(source, target); // a failed copy is reported, never half-done
    SaveProfileValues(target);
}

void TopSettingForm::cmbProfileChange()
{
    const QString path = SelectedProfilePath();
    if (SourceExists(path))
        LoadProfile(path);
}

void TopSettingForm::Button1Click()
{
    const QString path = SelectedProfilePath();
    if (SourceExists(path)) {
        const int row = vleVideo->FindRow(kVideoSize);
        if (row >= 0) {
            // The file keeps "Original Size"; the grid keeps the size the user chose.
            const QString chosen = vleVideo->ValueAt(row);
            vleVideo->SetValueAt(row, kOriginalSize);
            try {
                SaveProfileValues(path);
            } catch (...) {
                vleVideo->SetValueAt(row, chosen);
                throw;
            }
            vleVideo->SetValueAt(row, chosen);
        } else {
            SaveProfileValues(path);
        }
    }
    hide();
}

void TopSettingForm::Button2Click()
{
    hide();
    LoadProfile(SelectedProfilePath());
}

void TopSettingForm::btnSaveAsClick()
{
    // The dialog opens in the profile folder, where a copy is listed from the next start on.
    const QString folder = State.paths.profilesDir;
    const QString target = RunSaveDialog(this, SaveFilter, SaveDefaultExt, folder);
    if (target.isEmpty())
        return;
    CopyProfile(SelectedProfilePath(), target);
}

void TopSettingForm::ToggleSection(QPushButton* button, TValueListEditor* grid)
{
    if (button->text() == QLatin1String("+")) {
        grid->setFixedHeight(grid->RowCount() * kRowPitch + 1);
        button->setText(QStringLiteral("-"));
    } else {
        grid->setFixedHeight(1);
        button->setText(QStringLiteral("+"));
    }
}

void TopSettingForm::btnVideoClick() { ToggleSection(btnVideo, vleVideo); }
void TopSettingForm::btnAudioClick() { ToggleSection(btnAudio, vleAudio); }
void TopSettingForm::btnAdvancedClick() { ToggleSection(btnAdvanced, vleAdvanced); }

void TopSettingForm::vleVideoStringsChange()
{
    // One dialog only: a second request brings it to the front.
    if (vleVideo->CurrentKey() == kVideoSize && vleVideo->Value(kVideoSize) == kCustomSize)
        emit customSizeRequested();
}

void TopSettingForm::DrawProfileCell(TValueListEditor* grid, int col, int row, TCellLook& look)
{
    const QColor silver(192, 192, 192);
    const QColor window = grid->palette().color(QPalette::Base);
    if (col == 1) {
        const TItemProp props = grid->ItemProps(row);
        if (props.ReadOnly && props.EditStyle != esPickList)
            look.text = silver;
    }
    const QColor remembered = look.text == silver ? silver : QColor(Qt::black);
    const bool currentRow = row == grid->CurrentRow();
    if (currentRow && col == 1) {
        look.text = remembered;
        look.background = window;
    }
    if (currentRow && col == 0) {
        if (grid->HasInputFocus()) {
            look.background = QColor(49, 106, 197); // the standard text colour stays
        } else {
            look.text = remembered;
            look.background = window;
        }
    }
}

void TopSettingForm::vleVideoDrawCell(int col, int row, TCellLook& look) { DrawProfileCell(vleVideo, col, row, look); }
void TopSettingForm::vleAudioDrawCell(int col, int row, TCellLook& look) { DrawProfileCell(vleAudio, col, row, look); }
void TopSettingForm::vleAdvancedDrawCell(int col, int row, TCellLook& look)
{
    DrawProfileCell(vleAdvanced, col, row, look);
}

void TopSettingForm::RefreshGrids()
{
    // The grids that lost the focus redraw their current-row marking at once.
    for (TValueListEditor* grid : {vleVideo, vleAudio, vleAdvanced})
        grid->Refresh();
}

void TopSettingForm::vleVideoMouseDown() { RefreshGrids(); }
void TopSettingForm::vleAudioMouseDown() { RefreshGrids(); }
void TopSettingForm::vleAdvancedMouseDown() { RefreshGrids(); }
