#pragma once
// Picks, among the frames a decoder gives in presentation order, the one whose display
// interval holds a target time: the last frame that starts at or before it. The decoder
// side holds one frame back until it knows whether the next one still starts in time.
#include <limits>

class TFramePicker {
public:
    // What to do with a frame just decoded.
    enum class Step {
        Pass,       // no target: show it in turn
        Hold,       // it may be the one: keep it (a frame held before is not)
        HeldThenPass, // the held frame is the one; this frame comes after it
        After,      // nothing was held: this first frame past the target comes after the one
                    // shown before the search began (or is the first of all)
        Overshoot,  // the search began past the target: start again from earlier
        Retry,      // the one may have been skipped undecoded: start again, decoding all
    };

    // Starts a search for `target` (seconds). With expectEarlier, the first frame is
    // expected at or before the target, as after a seek to a key frame before it.
    void Start(double target, bool expectEarlier);
    void Clear();
    bool Active() const { return m_active; }
    double Target() const { return m_target; }

    // Whether a packet starting at `pts` can be left undecoded when nothing refers to it:
    // it lies well before the target and before the `keep` frames wanted just ahead of it.
    bool MaySkip(double pts, double frameDuration, int keep = 0) const;
    // A packet was handed to the decoder with leave to skip it.
    void NoteSkippable(double pts);

    Step Feed(double pts, double duration);
    // End of the stream: whether the held frame is the one.
    enum class End { Nothing, Held, Retry };
    End Finish();
    bool Holding() const { return m_holding; }
    double HeldTime() const { return m_heldPts; }

    // Frames starting within this distance count as starting at the same time.
    static constexpr double kEpsilon = 1e-6;

private:
    bool m_active = false;
    bool m_expectEarlier = false;
    bool m_first = true;
    bool m_holding = false;
    double m_target = 0;
    double m_heldPts = 0;
    double m_skippable = -std::numeric_limits<double>::infinity();
};
