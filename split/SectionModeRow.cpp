#include "split/SectionModeRow.h"
#include "app/TimeCode.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <cmath>

namespace {
// The modes in the list's order.
const SectionMode kModes[] = {SectionMode::Length, SectionMode::Size, SectionMode::Chapters, SectionMode::Points};
} // namespace

TSectionModes::TSectionModes(QWidget* panel, const QRect& row) : QObject(panel)
{
    rdbSections = new QRadioButton(QStringLiteral("Sections by"), panel);
    rdbSections->setObjectName(QStringLiteral("rdbSections"));
    cmbSectionMode = new QComboBox(panel);
    cmbSectionMode->setObjectName(QStringLiteral("cmbSectionMode"));
    cmbSectionMode->addItems({QStringLiteral("length"), QStringLiteral("size limit"), QStringLiteral("chapters"),
                              QStringLiteral("split points")});
    edtSectionValue = new QLineEdit(panel);
    edtSectionValue->setObjectName(QStringLiteral("edtSectionValue"));
    const int x = row.x(), y = row.y(), h = row.height();
    rdbSections->setGeometry(x, y, 96, h);
    cmbSectionMode->setGeometry(x + 98, y, 112, h);
    edtSectionValue->setGeometry(x + 216, y, row.width() - 216, h);
    rdbSections->setToolTip(QStringLiteral("Split the marked range into sections of a length, no larger than a "
                                           "size, at the source's chapters, or at the split points (X)"));
    cmbSectionMode->setAccessibleName(QStringLiteral("Sections by"));
    edtSectionValue->setAccessibleName(QStringLiteral("Section length or size"));
    // Choosing a mode or typing a value chooses the row, as the equal-sections field does.
    connect(cmbSectionMode, &QComboBox::currentIndexChanged, this, &TSectionModes::ShowMode);
    connect(cmbSectionMode, &QComboBox::activated, this, [this] { rdbSections->setChecked(true); });
    connect(edtSectionValue, &QLineEdit::textEdited, this, [this](const QString& text) {
        rdbSections->setChecked(true);
        (Mode() == SectionMode::Size ? m_sizeText : m_lengthText) = text;
    });
    ShowMode();
}

bool TSectionModes::Chosen() const { return rdbSections->isChecked(); }

SectionMode TSectionModes::Mode() const
{
    const int i = std::clamp(cmbSectionMode->currentIndex(), 0, 3);
    return kModes[i];
}

void TSectionModes::ShowMode()
{
    const SectionMode mode = Mode();
    const bool valued = mode == SectionMode::Length || mode == SectionMode::Size;
    edtSectionValue->setEnabled(valued);
    edtSectionValue->setText(mode == SectionMode::Length ? m_lengthText : mode == SectionMode::Size ? m_sizeText
                             : mode == SectionMode::Points ? QStringLiteral("%1 marked").arg(m_points.size())
                                                           : QString());
    edtSectionValue->setPlaceholderText(mode == SectionMode::Size ? QStringLiteral("25M, 4G-1") : QStringLiteral("HH:MM:SS"));
    edtSectionValue->setToolTip(mode == SectionMode::Size
                                    ? QStringLiteral("The largest a section may be: 25M, 700M, 4G-1 (a FAT32 stick)")
                                : mode == SectionMode::Length ? QStringLiteral("The length of each section, HH:MM:SS")
                                : mode == SectionMode::Points ? QStringLiteral("Split points are set and taken away with X")
                                                              : QString());
}

std::optional<SectionRequest> TSectionModes::Request(double start, double end, JobCheckFailure* failure) const
{
    SectionRequest r;
    r.mode = Mode();
    auto fail = [&](const char* message) -> std::optional<SectionRequest> {
        if (failure)
            *failure = JobCheckFailure{5, QStringLiteral("Invalid Section"), QLatin1String(message), JobFocus::None};
        return std::nullopt;
    };
    switch (r.mode) {
    case SectionMode::Length: {
        const double every = ParseTimeCode(edtSectionValue->text());
        if (!(every >= 0.001))
            return fail("Please specify a valid section length (HH:MM:SS).");
        r.every = every;
        break;
    }
    case SectionMode::Size: {
        const std::optional<qint64> bytes = ParseByteSize(edtSectionValue->text());
        if (!bytes)
            return fail("Please specify a valid size limit, such as 25M or 4G-1.");
        r.maxBytes = *bytes;
        break;
    }
    case SectionMode::Points:
        if (BoundariesAtPoints(start, end, m_points).size() < 3)
            return fail("Please mark a split point inside the range (X on the timeline).");
        r.points = m_points;
        break;
    default:
        break;
    }
    return r;
}

void TSectionModes::TogglePoint(double seconds, double near)
{
    const auto close = std::find_if(m_points.begin(), m_points.end(), [&](double p) { return std::abs(p - seconds) <= near; });
    if (close != m_points.end())
        m_points.erase(close);
    else
        m_points.insert(std::lower_bound(m_points.begin(), m_points.end(), seconds), seconds);
    if (Mode() == SectionMode::Points)
        ShowMode();
    emit pointsChanged(m_points);
}

void TSectionModes::ClearPoints()
{
    m_points.clear();
    if (Mode() == SectionMode::Points)
        ShowMode();
    emit pointsChanged(m_points);
}
