// The marked range: the Start and End fields, the track bar's selection, the two marks
// under the bar and the length label.
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/RangeMath.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

#include <algorithm>

void TMainForm::SetupRange()
{
    // The fields' Enter and leaving, and the click in the section count, arrive through
    // the window's event filter.
    connect(sbtnSelStart, &QToolButton::clicked, this, &TMainForm::sbtnSelStartClick);
    connect(sbtnSelEnd, &QToolButton::clicked, this, &TMainForm::sbtnSelEndClick);
    connect(sbtnErase, &QToolButton::clicked, this, &TMainForm::sbtnEraseClick);
}

namespace {

// Enter and leaving a time field act alike: a text that reads as a time code is taken into
// the range; anything else stays as typed. A field that still shows its mark's text keeps
// the mark's exact time, which the text shows only to the millisecond.
template <typename Apply>
void TakeTimeField(bool sourceLoaded, const QLineEdit* field, double markSeconds, const QString& markText,
                   Apply apply)
{
    if (!sourceLoaded)
        return;
    const double v = field->text() == markText ? markSeconds : ParseTimeCode(field->text());
    if (v != -1)
        apply(v);
}

// Shows a mark with its text, sized to it.
void SetMarkText(QLabel* mark, const QString& text)
{
    mark->setText(text);
    mark->adjustSize();
}

// The mark of the end just set, with the field's text, in its place; the length label
// shows with it.
void ShowStartMark(TMainForm& f)
{
    SetMarkText(f.labStart, QStringLiteral("[ ") + f.edtStart->text());
    f.PlaceStartMark();
    f.labStart->show();
    f.labLength->show();
}

void ShowEndMark(TMainForm& f)
{
    SetMarkText(f.labEnd, f.edtEnd->text() + QStringLiteral(" ]"));
    f.PlaceEndMark();
    f.labEnd->show();
    f.labLength->show();
}

} // namespace

void TMainForm::edtStartKeyPress(QChar key)
{
    if (key == QChar(13))
        edtStartExit();
}

void TMainForm::edtStartExit()
{
    TakeTimeField(SourceLoaded, edtStart, m_startMark.seconds, m_startMark.text,
                  [this](double v) { ApplyStartTime(v); });
}

void TMainForm::edtEndKeyPress(QChar key)
{
    if (key == QChar(13))
        edtEndExit();
}

void TMainForm::edtEndExit()
{
    TakeTimeField(SourceLoaded, edtEnd, m_endMark.seconds, m_endMark.text, [this](double v) { ApplyEndTime(v); });
}

// The mark keeps the exact time; its field shows it to the millisecond.
static void SetMark(double seconds, QLineEdit* field, double& markSeconds, QString& markText)
{
    field->setText(FormatExactTimeCode(seconds));
    markSeconds = seconds;
    markText = field->text();
}

void TMainForm::ApplyStartTime(double seconds)
{
    if (!SourceLoaded)
        return;
    // The bar stops at the source's length; the field and the mark keep the typed time.
    tkbProgress->SetSelStart(RoundHalfEvenInt(std::min(seconds, FilterGraph->SourceLength() / 1000.0)));
    SetMark(seconds, edtStart, m_startMark.seconds, m_startMark.text);
    ShowStartMark(*this);
    ShowRangeLength();
}

void TMainForm::ApplyEndTime(double seconds)
{
    if (!SourceLoaded)
        return;
    tkbProgress->SetSelEnd(RoundHalfEvenInt(std::min(seconds, FilterGraph->SourceLength() / 1000.0)));
    SetMark(seconds, edtEnd, m_endMark.seconds, m_endMark.text);
    ShowEndMark(*this);
    ShowRangeLength();
}

void TMainForm::ShowRangeLength()
{
    // From the exact marks, each stopped at the source's length as the bar's ends are.
    const double length = FilterGraph->SourceLength() / 1000.0;
    labLength->setText(MarkedLengthText(std::min(m_startMark.seconds, length), std::min(m_endMark.seconds, length)));
}

// The end mark drops below the start mark when the two would overlap, and comes back up
// once they are apart. The drop grows with the layout, so a larger font still clears.
static void SettleEndMarkHeight(QLabel* start, QLabel* end, double layoutScale)
{
    const int drop = qRound(kOverlapDrop * layoutScale);
    const int top = MarksOverlap(start->x(), start->width(), end->x(), end->width()) ? start->y() + drop
                                                                                      : start->y();
    end->move(end->x(), top);
}

// Each mark stays inside the preview region, even where its place on the bar would put it
// past an edge (an end near the start of a long source).
void TMainForm::PlaceStartMark()
{
    const int left = StartMarkLeft(tkbProgress->x(), tkbProgress->width(), tkbProgress->SelStart(), tkbProgress->Max());
    labStart->move(KeepInside(left, labStart->width(), panLeft->width()), labStart->y());
    SettleEndMarkHeight(labStart, labEnd, LayoutScale);
}

void TMainForm::PlaceEndMark()
{
    const int left = EndMarkLeft(tkbProgress->x(), tkbProgress->width(), tkbProgress->SelEnd(), tkbProgress->Max(),
                                 labEnd->width());
    labEnd->move(KeepInside(left, labEnd->width(), panLeft->width()), labEnd->y());
    SettleEndMarkHeight(labStart, labEnd, LayoutScale);
}

double TMainForm::FrameTimeForMark() const
{
    const double frame = FilterGraph->CurrentFrameTime();
    return frame >= 0 ? frame : double(tkbProgress->Position());
}

void TMainForm::sbtnSelStartClick()
{
    if (!SourceLoaded)
        return;
    const double t = FrameTimeForMark();
    tkbProgress->SetSelStart(RoundHalfEvenInt(t));
    SetMark(t, edtStart, m_startMark.seconds, m_startMark.text);
    ShowStartMark(*this);
    ShowRangeLength();
}

void TMainForm::sbtnSelEndClick()
{
    if (!SourceLoaded)
        return;
    const double t = FrameTimeForMark();
    tkbProgress->SetSelEnd(RoundHalfEvenInt(t));
    SetMark(t, edtEnd, m_endMark.seconds, m_endMark.text);
    ShowEndMark(*this);
    ShowRangeLength();
}

void TMainForm::sbtnEraseClick()
{
    if (!SourceLoaded)
        return;
    tkbProgress->SetSelStart(0);
    tkbProgress->SetSelEnd(0);
    ResetMarks();
    labStart->hide();
    labEnd->hide();
    labLength->hide();
}

void TMainForm::ResetMarks()
{
    m_startMark = TMark();
    m_endMark = TMark();
    edtStart->setText(m_startMark.text);
    edtEnd->setText(m_endMark.text);
}

double TMainForm::StartSecondsForJob() const
{
    return edtStart->text() == m_startMark.text ? m_startMark.seconds : ParseTimeCode(edtStart->text());
}

double TMainForm::EndSecondsForJob() const
{
    return edtEnd->text() == m_endMark.text ? m_endMark.seconds : ParseTimeCode(edtEnd->text());
}

QString TMainForm::StartTextForJob() const
{
    return edtStart->text() == m_startMark.text ? LosslessTimeCode(m_startMark.seconds) : edtStart->text();
}

QString TMainForm::EndTextForJob() const
{
    return edtEnd->text() == m_endMark.text ? LosslessTimeCode(m_endMark.seconds) : edtEnd->text();
}

void TMainForm::edtSectionQtyClick()
{
    rdbEqual->setChecked(true);
}
