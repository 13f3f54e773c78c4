#pragma once
// Sound that a container times in coarse steps: AVI counts MP3, AC-3 or AAC sound in whole
// packets (1152/44100 s for MP3). ffmpeg moves a stream's time stamps by the seek rounded
// to such a step, so a copied packet that straddles a cut starts at 0 in the section after
// it (its larger part lies there), while the section before ends its sound by time and keeps
// it as well: the packet would sound twice at the join. Cut on the steps instead, both ends
// decide alike: a packet belongs to the section that holds its larger part.
#include <string>

struct SoundTicks {
    long long num = 0; // one step, num/den seconds; 0: no sound stream counts in coarse steps
    long long den = 0;
    long long originUs = 0; // the source's start, which ffmpeg adds to every seek
};

// Reads the source's header (in the exact-cut module, which links the FFmpeg libraries).
// False when the source cannot be read or its sound streams are fine-grained or step
// differently from each other.
extern "C" bool VtSoundTicks(const char* source, SoundTicks* ticks);
inline constexpr const char* kSoundTicksEntry = "VtSoundTicks";

// The length (seconds, as ffmpeg reads them) that ends the copied sound of a section read from
// seekUs for lengthUs just after the last packet whose larger part lies before its end, as
// ffmpeg's rounding of the next section's seek (at seekUs + lengthUs) starts that one on the
// packet after it. Empty when the steps are fine or the section holds no whole step.
std::string CoarseSoundLength(const SoundTicks& ticks, long long seekUs, long long lengthUs);
