#pragma once
// Key-frame cuts where a copy starting at the key frame would not show what it should.
//
// An open group of pictures (an H.265 CRA with its RASL pictures, an H.264 I-picture that is
// no IDR) opens with pictures shown before its key frame but decoded after it, from pictures
// of the group before. A section copied from the key frame cannot decode them, and the
// section before, which stops before the key frame, does not hold them: they would be in
// neither. Where the output can hide pictures (the MP4 edit list), the section before carries
// them and hides the key frame; elsewhere the section starts at the first of them and its
// video is cut exactly (those few pictures encoded again, the copy from the key frame on).
//
// The key frames of an intra-refresh H.264 stream are recovery points: a refresh begins
// there, and the pictures are whole only a refresh later. Into MP4 the section's video is
// copied from the recovery point before, whose refresh is whole by the key frame, and the
// edit list hides what lies before the key frame. Not with B-frames: their reference
// pictures are released by commands that name pictures before the recovery point, which a
// decoder starting there reports as errors. Otherwise the section is cut exactly from the
// key frame, encoded again up to where a copy can resume.
#include "split/CutPoints.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>

// Whether an output of this type (".mp4", ".mkv") has an edit list that can hide pictures.
bool OutputHidesPictures(const QString& extension);

// Whether the exact cut can copy again from an open group's key frame after the pictures
// shown before it, encoded again, for video of this codec (ffprobe's codec_name).
bool ExactCutResumesAtOpenKeyFrames(const QString& codec);

// Marks the points of a key-frame plan whose sections are to start on whole pictures, as
// described above: moves a point onto the leading pictures of its key frame and asks for an
// exact start where that is needed, and keeps refreshFrom only where the output hides the
// pictures before the key frame. The marked end moves onto its key frame's leading pictures
// too where those lie past it (the section before then ends on a whole group). codec and
// reorder (frames decoded ahead of their showing): the cut stream's; extension: the outputs'.
void StartOnWholePictures(CutPlan& plan, const QString& codec, int reorder, const QString& extension);

// Points of a key-frame plan whose key frames start sections (the last point starts none).
QList<int> SectionStartPoints(const CutPlan& plan);

// ffprobe's frames ("-show_entries frame=pts_time,pict_type -of csv=p=0"): the times of
// those that are no I-picture, counted from the format's start.
QList<double> NonIntraFrames(const QByteArray& ffprobeOutput, double formatStart);

// Looks at the key frames the sections of an H.264 key-frame plan start on (decoding each
// alone) and sets refreshFrom on those that are recovery points of an intra refresh: the key
// frame before each. One run of ffprobe, a second only when there are such points. False
// when ffprobe failed or was cancelled (the plan is then left as it was).
// With the reading module (reader, SourceReaderLoad.h) the key frames' types are read from
// their slice headers inside the program instead of by a decoding ffprobe.
bool FindRecoveryPoints(const QString& ffprobe, const QString& source, double formatStart, CutPlan& plan,
                        const std::atomic<bool>* cancel = nullptr, const QString& reader = QString());

// The module's packets (JSON, with pict_type asked for): the times of the key frames that are
// no I-picture, counted from the format's start.
QList<double> NonIntraKeyPackets(const QByteArray& json, double formatStart);

// What the completion says about such sections; empty when there are none.
QStringList OpenStartNotes(const CutPlan& plan);
