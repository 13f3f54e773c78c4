#include "app/Navigation.h"
#include "app/Dialogs.h"
#include "app/MainForm.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "prefs/PreferencesStore.h"
#include "split/KeyFrames.h"
#include "split/SourceProbe.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <cmath>

namespace {

const char kUnreadable[] = "unreadableTime";
const QString kFrameKey = QStringLiteral("Frame Number");

QString FieldTip()
{
    return QStringLiteral("A time: ") + AcceptedTimeForms();
}

// Frames counted from the source's start at its frame rate.
QString FrameText(double seconds, double frameDuration)
{
    if (frameDuration <= 0 || seconds < 0)
        return QString();
    return QStringLiteral("Frame %1").arg(std::llround(seconds / frameDuration));
}

} // namespace

bool CheckTimeField(QLineEdit* field)
{
    const bool readable = ParseTimeCode(field->text()) != -1;
    if (readable == !field->property(kUnreadable).toBool())
        return readable;
    field->setProperty(kUnreadable, !readable);
    if (readable) {
        field->setStyleSheet(QString());
        field->setToolTip(FieldTip());
        field->setAccessibleDescription(QString());
    } else {
        field->setStyleSheet(QStringLiteral("QLineEdit{border:2px solid #d93025;border-radius:2px;padding:0 1px;}"));
        const QString why = QStringLiteral("Not a time. Type ") + AcceptedTimeForms() + QLatin1Char('.');
        field->setToolTip(why);
        field->setAccessibleDescription(why);
    }
    return readable;
}

// ---- Go To

TGoToTimeDialog::TGoToTimeDialog(QWidget* parent, const QString& current) : QDialog(parent)
{
    setObjectName(QStringLiteral("GoToTimeDialog"));
    setWindowTitle(QStringLiteral("Go To Time"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Time:"), this);
    edtTime = new QLineEdit(current, this);
    edtTime->setObjectName(QStringLiteral("edtTime"));
    edtTime->setToolTip(FieldTip());
    edtTime->selectAll();
    label->setBuddy(edtTime);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(label);
    layout->addWidget(edtTime);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TGoToTimeDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TGoToTimeDialog::reject);
    connect(edtTime, &QLineEdit::textChanged, this, [this] { CheckTimeField(edtTime); });
}

double TGoToTimeDialog::Seconds() const
{
    return ParseTimeCode(edtTime->text());
}

void TGoToTimeDialog::accept()
{
    if (!CheckTimeField(edtTime)) {
        edtTime->setFocus();
        return;
    }
    QDialog::accept();
}

// ---- the navigator

TNavigator::TNavigator(TMainForm* form) : QObject(form), m_form(form)
{
    setObjectName(QStringLiteral("Navigator"));
    try {
        m_showFrame = PreferencesStore(m_form->Paths).GetFlag(QStringLiteral("Main"), kFrameKey, false);
    } catch (const std::exception&) {
        m_showFrame = false; // an unreadable file is reported where the preferences are read
    }

    // The frame number sits under the position, where the scale leaves room.
    labFrame = new QLabel(m_form->labCurrent->parentWidget());
    labFrame->setObjectName(QStringLiteral("labFrame"));
    labFrame->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labFrame->setStyleSheet(m_form->labCurrent->styleSheet());
    labFrame->setVisible(m_showFrame);
    PlaceFrameLabel();
    for (QLabel* l : {m_form->labCurrent, labFrame}) {
        l->installEventFilter(this);
        l->setToolTip(QStringLiteral("Time of the picture shown; right-click to show or hide its frame number"));
    }
    m_form->labCurrent->setContextMenuPolicy(Qt::PreventContextMenu);
    labFrame->setContextMenuPolicy(Qt::PreventContextMenu);

    m_soundClock = new QTimer(this);
    m_soundClock->setInterval(100);
    connect(m_soundClock, &QTimer::timeout, this, [this] {
        if (m_form->FilterGraph->CurrentFrameTime() < 0)
            ShowPicturePosition();
    });
    TFilterGraph* graph = m_form->FilterGraph;
    graph->Attach(this);
    connect(graph, &TFilterGraph::FrameShown, this, [this] { ShowPicturePosition(); });
    connect(m_form->tkbProgress, &TDSTrackBar::UserMoved, this, [this] {
        // While the thumb is held the label tells where letting go will land.
        if (m_form->tkbProgress->MouseDown())
            ShowTime(m_form->tkbProgress->Position());
    });
    for (QLineEdit* field : {m_form->edtStart, m_form->edtEnd}) {
        field->setToolTip(FieldTip());
        connect(field, &QLineEdit::textChanged, this, [field] { CheckTimeField(field); });
    }

    struct Binding {
        QKeySequence keys;
        void (TNavigator::*action)();
        int direction;
    };
    const Binding bindings[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_G), &TNavigator::OpenGoToDialog, 0},
        {QKeySequence(Qt::Key_BracketLeft), &TNavigator::GoToStartMark, 0},
        {QKeySequence(Qt::Key_BracketRight), &TNavigator::GoToEndMark, 0},
        {QKeySequence(Qt::CTRL | Qt::Key_Left), nullptr, -1},
        {QKeySequence(Qt::CTRL | Qt::Key_Right), nullptr, 1},
    };
    for (const Binding& b : bindings) {
        auto* shortcut = new QShortcut(b.keys, m_form);
        shortcut->setAutoRepeat(b.direction != 0);
        m_form->Shortcuts << shortcut;
        const auto action = b.action;
        const int direction = b.direction;
        connect(shortcut, &QShortcut::activated, this, [this, action, direction] {
            RunGuarded([&] {
                if (action)
                    (this->*action)();
                else
                    GoToKeyFrame(direction);
            });
        });
    }
}

TNavigator::~TNavigator()
{
    if (m_reader) {
        m_cancel->store(true);
        m_reader->wait();
        delete m_reader;
    }
}

QString TNavigator::Source() const
{
    return m_form->FilterGraph->Source();
}

void TNavigator::PlaceFrameLabel()
{
    const QLabel* time = m_form->labCurrent;
    const QLabel* scale = m_form->labRight;
    labFrame->setGeometry(time->x(), scale->y(), time->width(), scale->height());
}

bool TNavigator::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_form->labCurrent && (e->type() == QEvent::Move || e->type() == QEvent::Resize))
        PlaceFrameLabel();
    if ((watched == m_form->labCurrent || watched == labFrame) && e->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
        SetShowsFrameNumber(!m_showFrame);
        return true;
    }
    return QObject::eventFilter(watched, e);
}

void TNavigator::SetShowsFrameNumber(bool on)
{
    m_showFrame = on;
    labFrame->setVisible(on);
    if (m_form->SourceLoaded)
        ShowPicturePosition();
    try {
        PreferencesStore(m_form->Paths).PutFlag(QStringLiteral("Main"), kFrameKey, on);
    } catch (const std::exception&) {
        // A folder that cannot be written is reported when the preferences are saved.
    }
}

void TNavigator::ShowTime(double seconds)
{
    m_form->labCurrent->setText(FormatPositionTime(seconds));
    labFrame->setText(m_showFrame ? FrameText(seconds, m_form->FilterGraph->FrameDuration()) : QString());
}

void TNavigator::ShowPicturePosition()
{
    TFilterGraph* graph = m_form->FilterGraph;
    if (!m_form->SourceLoaded || !graph->Active() || Source().isEmpty())
        return;
    double t = graph->CurrentFrameTime();
    if (t < 0) {
        qint64 ms = 0;
        if (!graph->MediaSeeking() || !graph->MediaSeeking()->GetCurrentPosition(ms))
            return;
        t = ms / 1000.0;
    }
    ShowTime(t);
    // The thumb stands at the whole second, on a bar as long as this source.
    TDSTrackBar* bar = m_form->tkbProgress;
    if (bar->MouseDown())
        return;
    const int unit = bar->TimerInterval() > 0 ? bar->TimerInterval() : 1000;
    if (graph->SourceLength() > 0)
        bar->SetMax(graph->SourceLength() / unit);
    bar->SetPosition(int(std::floor(t * 1000 / unit)));
}

void TNavigator::ControlEvent(TControlEvent event, int param)
{
    if (event == TControlEvent::Play)
        m_soundClock->start();
    else if (event == TControlEvent::Pause || event == TControlEvent::Stop
             || (event == TControlEvent::Active && param == 0))
        m_soundClock->stop();
}

// ---- moves

void TNavigator::SeekTo(double seconds)
{
    if (!m_form->SourceLoaded || !m_form->tkbProgress->isEnabled() || std::isnan(seconds))
        return;
    const double length = m_form->FilterGraph->SourceLength() / 1000.0;
    m_form->FilterGraph->SeekExact(std::clamp(seconds, 0.0, length));
    // Sound alone is where it was sent at once; pictures tell when they are shown.
    if (m_form->FilterGraph->CurrentFrameTime() < 0)
        ShowPicturePosition();
}

void TNavigator::SeekBy(double seconds)
{
    if (!m_form->SourceLoaded)
        return;
    double from = m_form->FilterGraph->Destination();
    if (from < 0)
        from = m_form->FrameTimeForMark();
    SeekTo(from + seconds);
}

void TNavigator::GoToStartMark()
{
    if (!m_form->SourceLoaded)
        return;
    const double t = m_form->StartSecondsForJob();
    if (t != -1)
        SeekTo(t);
}

void TNavigator::GoToEndMark()
{
    if (!m_form->SourceLoaded)
        return;
    const double t = m_form->EndSecondsForJob();
    if (t != -1)
        SeekTo(t);
}

void TNavigator::OpenGoToDialog()
{
    if (!m_form->SourceLoaded || !m_form->tkbProgress->isEnabled() || GoToDialog)
        return;
    const double here = m_form->FilterGraph->Destination();
    auto* dialog = new TGoToTimeDialog(m_form, FormatPositionTime(std::max(here, 0.0)));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    GoToDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog] { SeekTo(dialog->Seconds()); });
    // Window-modal and shown without waiting: the window's loop goes on running.
    dialog->open();
}

void TNavigator::GoToKeyFrame(int direction)
{
    if (!m_form->SourceLoaded || !m_form->tkbProgress->isEnabled() || direction == 0 || Source().isEmpty())
        return;
    if (!KeyFramesKnown()) {
        // The moves wait for the list and are made from where the picture will be then.
        m_keyMoves += direction > 0 ? 1 : -1;
        ReadKeyFrames();
        return;
    }
    const double from = m_form->FilterGraph->Destination();
    const double to = direction < 0 ? KeyFrameBefore(m_keys, from) : KeyFrameAfter(m_keys, from);
    if (to >= 0)
        SeekTo(to);
}

void TNavigator::ReadKeyFrames()
{
    const QString source = Source();
    if (source.isEmpty() || m_readingFor == source)
        return;
    if (m_reader) {
        // Reading another source: it stops, and this one is read when it has.
        m_cancel->store(true);
        return;
    }
    m_readingFor = source;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancel;
    const QString ffprobe = FindFfprobe(m_form->EncoderPath);
    m_reader = QThread::create([this, cancel, ffprobe, source] {
        const KeyFrameList list = ListKeyFrames(ffprobe, source, cancel.get());
        if (!cancel->load())
            QMetaObject::invokeMethod(this, [this, source, times = list.times] { TakeKeyFrames(source, times); },
                                      Qt::QueuedConnection);
    });
    connect(m_reader, &QThread::finished, this, [this] {
        m_reader->deleteLater();
        m_reader = nullptr;
        m_readingFor.clear();
        // Moves asked for on a source opened while another was read.
        if (m_keyMoves != 0 && !KeyFramesKnown())
            ReadKeyFrames();
    });
    m_reader->start(QThread::LowPriority);
}

void TNavigator::TakeKeyFrames(const QString& source, const QList<double>& times)
{
    if (source != Source())
        return; // another source is shown by now
    m_keys = times;
    m_keysFor = source;
    const int moves = std::exchange(m_keyMoves, 0);
    if (moves != 0 && m_form->SourceLoaded && m_form->tkbProgress->isEnabled()) {
        double at = m_form->FilterGraph->Destination();
        for (int i = 0; i < std::abs(moves); ++i) {
            const double next = moves < 0 ? KeyFrameBefore(m_keys, at) : KeyFrameAfter(m_keys, at);
            if (next >= 0)
                at = next;
        }
        SeekTo(at);
    }
    emit KeyFramesRead();
}
