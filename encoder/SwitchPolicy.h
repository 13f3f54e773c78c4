// What the encoder lets a profile ask of ffmpeg.
//
// The encoder is started as
//
//   wmaspi.dll -y -i <source> -ss <start> -t <length> [profile switches...] <output>
//
// and the profile switches come from a profile file, which users share like code. They may
// choose codecs, filters and settings, but they may not make ffmpeg write anything besides
// the one output, read anything besides the source, or load code. ffmpeg's libraries read
// filter graphs and parameter lists their own way (quotes, escapes, blanks, prefixes), so
// those are accepted only in a plain form that both readers see alike, with filters from an
// allow-list; options that name files, devices, places or libraries are refused. The lists
// and the grammar are in SwitchPolicy.cpp, and nowhere else. The sandbox (Sandbox.h) walls
// ffmpeg in whatever gets past this.
#pragma once
#include <string>
#include <vector>

// Empty when the arguments may go to ffmpeg; otherwise one line saying which profile
// option is refused and why.
std::string RefusedProfileSwitches(const std::vector<std::string>& args);
