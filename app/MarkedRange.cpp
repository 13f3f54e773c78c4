// The marked range: the Start and End fields, the track bar's selection, the two marks
// under the bar and the length label.
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
// the range; anything else stays as typed.
template <typename Apply>
void TakeTimeField(bool sourceLoaded, const QLineEdit* field, Apply apply)
{
    if (!sourceLoaded)
        return;
    const double v = ParseTimeCode(field->text());
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
    TakeTimeField(SourceLoaded, edtStart, [this](double v) { ApplyStartTime(v); });
}

void TMainForm::edtEndKeyPress(QChar key)
{
    if (key == QChar(13))
        edtEndExit();
}

void TMainForm::edtEndExit()
{
    TakeTimeField(SourceLoaded, edtEnd, [this](double v) { ApplyEndTime(v); });
}

void TMainForm::ApplyStartTime(double seconds)
{
    if (!SourceLoaded)
        return;
    seconds = std::min(seconds, FilterGraph->SourceLength() / 1000.0);
    tkbProgress->SetSelStart(RoundHalfEvenInt(seconds));
    // The field shows what was typed (not the limited value), in whole seconds.
    edtStart->setText(FormatTimeCode(ParseTimeCode(edtStart->text())));
    ShowStartMark(*this);
    ShowRangeLength();
}

void TMainForm::ApplyEndTime(double seconds)
{
    if (!SourceLoaded)
        return;
    seconds = std::min(seconds, FilterGraph->SourceLength() / 1000.0);
    tkbProgress->SetSelEnd(RoundHalfEvenInt(seconds));
    edtEnd->setText(FormatTimeCode(ParseTimeCode(edtEnd->text())));
    ShowEndMark(*this);
    // The length is taken from the typed end (after the limit, before rounding).
    labLength->setText(RangeLengthText(tkbProgress->SelStart(), tkbProgress->SelEnd(),
                                       seconds - double(tkbProgress->SelStart())));
}

void TMainForm::ShowRangeLength()
{
    labLength->setText(RangeLengthText(tkbProgress->SelStart(), tkbProgress->SelEnd()));
}

// The end mark drops below the start mark when the two would overlap, and comes back up
// once they are apart.
static void SettleEndMarkHeight(QLabel* start, QLabel* end)
{
    const int top = MarksOverlap(start->x(), start->width(), end->x(), end->width()) ? start->y() + kOverlapDrop
                                                                                      : start->y();
    end->move(end->x(), top);
}

void TMainForm::PlaceStartMark()
{
    labStart->move(StartMarkLeft(tkbProgress->x(), tkbProgress->width(), tkbProgress->SelStart(), tkbProgress->Max()),
                   labStart->y());
    SettleEndMarkHeight(labStart, labEnd);
}

void TMainForm::PlaceEndMark()
{
    labEnd->move(EndMarkLeft(tkbProgress->x(), tkbProgress->width(), tkbProgress->SelEnd(), tkbProgress->Max(),
                             labEnd->width()),
                 labEnd->y());
    SettleEndMarkHeight(labStart, labEnd);
}

void TMainForm::sbtnSelStartClick()
{
    if (!SourceLoaded)
        return;
    const int position = tkbProgress->Position();
    tkbProgress->SetSelStart(position);
    edtStart->setText(FormatTimeCode(position));
    ShowStartMark(*this);
    ShowRangeLength();
}

void TMainForm::sbtnSelEndClick()
{
    if (!SourceLoaded)
        return;
    const int position = tkbProgress->Position();
    tkbProgress->SetSelEnd(position);
    edtEnd->setText(FormatTimeCode(position));
    ShowEndMark(*this);
    ShowRangeLength();
}

void TMainForm::sbtnEraseClick()
{
    if (!SourceLoaded)
        return;
    tkbProgress->SetSelStart(0);
    tkbProgress->SetSelEnd(0);
    edtStart->setText(FormatTimeCode(0));
    edtEnd->setText(FormatTimeCode(0));
    labStart->hide();
    labEnd->hide();
    labLength->hide();
}

void TMainForm::edtSectionQtyClick()
{
    rdbEqual->setChecked(true);
}
