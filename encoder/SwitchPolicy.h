// What the encoder lets a profile ask of ffmpeg.
//
// The encoder is started as
//
//   wmaspi.dll -y -i <source> -ss <start> -t <length> [profile switches...] <output>
//
// and the profile switches come from a profile file, which users share. They may choose
// codecs, filters and settings, but they may not make ffmpeg write anything besides the
// one output, read anything besides the source, or load code. Every option, format and
// filter that could is listed in SwitchPolicy.cpp, and nowhere else.
#pragma once
#include <string>
#include <vector>

// Empty when the arguments may go to ffmpeg; otherwise one line saying which profile
// option is refused and why.
std::string RefusedProfileSwitches(const std::vector<std::string>& args);
