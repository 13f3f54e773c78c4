#pragma once
// The main window's row of section modes beside N equal sections: "Sections by" a length, a
// size, the source's chapters or the split points marked on the timeline, with the value a
// length or size needs. Its controls lie on the job region itself, so that its radio button
// is one of the window's split modes.
#include "split/JobPlan.h"

#include <QObject>
#include <QRect>
#include <optional>

class QComboBox;
class QLineEdit;
class QRadioButton;
class QWidget;

class TSectionModes : public QObject {
    Q_OBJECT
public:
    // The controls are made on `panel` and laid out in `row` (the window's coordinates).
    TSectionModes(QWidget* panel, const QRect& row);

    QRadioButton* rdbSections = nullptr;
    QComboBox* cmbSectionMode = nullptr;  // length, size, chapters, split points
    QLineEdit* edtSectionValue = nullptr; // "00:05:00" or "25M"

    bool Chosen() const;
    SectionMode Mode() const;
    // The request the row stands for, or the check that fails (the value field's text is no
    // length or size, or no split point lies inside the range).
    std::optional<SectionRequest> Request(double start, double end, JobCheckFailure* failure) const;

    // The split points, in seconds; a point within `near` of one there takes it away.
    const QList<double>& Points() const { return m_points; }
    void TogglePoint(double seconds, double near);
    void ClearPoints();

Q_SIGNALS:
    void pointsChanged(const QList<double>& points);

private:
    void ShowMode();
    QList<double> m_points;
    QString m_lengthText = QStringLiteral("00:05:00");
    QString m_sizeText = QStringLiteral("25M");
};
