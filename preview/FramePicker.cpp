#include "preview/FramePicker.h"

void TFramePicker::Start(double target, bool expectEarlier)
{
    m_active = true;
    m_expectEarlier = expectEarlier;
    m_first = true;
    m_holding = false;
    m_target = target;
    m_skippable = -std::numeric_limits<double>::infinity();
}

void TFramePicker::Clear()
{
    m_active = false;
    m_holding = false;
}

bool TFramePicker::MaySkip(double pts, double frameDuration, int keep) const
{
    // Two frames of room: with a steady rate the one wanted cannot start that early; with an
    // unsteady one, Feed notices a skipped candidate and asks for a second pass.
    const double room = (2 + keep) * (frameDuration > 0 ? frameDuration : 0.1);
    return m_active && pts < m_target - room;
}

void TFramePicker::NoteSkippable(double pts)
{
    if (pts > m_skippable)
        m_skippable = pts;
}

TFramePicker::Step TFramePicker::Feed(double pts, double duration)
{
    if (!m_active)
        return Step::Pass;
    const bool first = m_first;
    m_first = false;
    const double t = m_target + kEpsilon;
    (void)duration;
    if (pts <= t) {
        // Only the next frame's start says where this one ends: a stated duration may be
        // wrong where the frame rate changes.
        m_holding = true;
        m_heldPts = pts;
        return Step::Hold;
    }
    // Past the target.
    if (first && m_expectEarlier) {
        m_active = false;
        return Step::Overshoot;
    }
    if (m_holding && m_skippable > m_heldPts + kEpsilon) {
        // A packet between the held frame and the target went to the decoder with leave
        // to skip it and gave no frame: it may have been the one.
        m_active = m_holding = false;
        return Step::Retry;
    }
    m_active = false;
    if (m_holding) {
        m_holding = false;
        return Step::HeldThenPass;
    }
    return Step::After;
}

TFramePicker::End TFramePicker::Finish()
{
    const bool held = m_active && m_holding;
    const bool skipped = held && m_skippable > m_heldPts + kEpsilon;
    m_active = m_holding = false;
    return !held ? End::Nothing : skipped ? End::Retry : End::Held;
}
