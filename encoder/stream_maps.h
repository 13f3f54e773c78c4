#pragma once
// The program keeps a source's tracks with "-map 0:<kind>[:n]" switches (0:v:0, 0:a:1,
// 0:s, 0:t:0). Where the encoder reads the source as more than one input (the video from a
// pipe or from a reading of its own), those maps are pointed at the input that carries the
// kind, so a cut with several tracks need not give up its way of cutting.
#include <string>
#include <vector>

// Whether every -map among the options names input 0 by kind and nothing else ("0:a:1",
// "0:s"), so that it can be pointed at another input. True when there is no -map.
bool MapsByKind(const std::vector<std::string>& options);

// Points each such map at the input holding its kind: video at videoInput, the rest at
// otherInput. With pipedVideo the video input holds one stream only: the first video map
// takes it and any later one is dropped. Returns the number of maps dropped.
int PointMapsAtInputs(std::vector<std::string>& options, int videoInput, int otherInput, bool pipedVideo);
