// The metadata rules: which "onMetaData" values become stream facts, and the "onMetaData" tag
// written for an output file.
//
// Reading (ApplyMetadata), per property in list order, the name compared exactly (case
// included, whole name):
//
//   "width"          width          if the number is > 0; truncated toward zero
//   "height"         height         if the number is > 0; truncated
//   "videodatarate"  videoDataRate  truncated
//   "framerate"      frameRate      if the number is > 0 (and finite); kept as a double
//   "videocodecid"   videoCodec     a string: 7 if it is "avc1" in any case, else 2;
//                                   a number: truncated
//   "audiodatarate"  audioDataRate  truncated
//   "audiocodecid"   soundFormat    a string: 10 if it is "mp4a" in any case, else 2;
//                                   a number: truncated
//
// Every other name is passed over, and so is a value that fails its rule. A number is a VT_R8
// or VT_I4 value. Booleans, strings under the numeric names, and VT_EMPTY (null, objects,
// arrays, dates, long strings) are not numbers and leave the field alone: a "videocodecid" of
// null must not replace the codec that the first video tag would give with 0. A number whose
// truncation does not fit a 32-bit integer (NaN, infinities, |x| >= 2^31) also leaves the
// field alone.
#pragma once

#include "flv/ScriptData.h"
#include "flv/StreamFacts.h"
#include "io/OutputStream.h"

// Applies the body's properties to `facts`, whatever the body's name; later properties win.
void ApplyMetadata(const CFLV_ScriptData& body, StreamFacts& facts);

// Appends a complete script tag and its PreviousTagSize at the output's cursor:
//
//   UI8 18, UI24 DataSize, UI24 0 (time), UI8 0 (extended time), UI24 0 (stream id)
//   body "onMetaData": "duration" (seconds: videoFrameCount / frameRate), "width", "height",
//        "videodatarate", "framerate", "videocodecid", "audiodatarate", "audiodelay" (0.038),
//        "audiocodecid", "canSeekToEnd" (true), in this order
//   UI32 PreviousTagSize = DataSize + 11
//
// A frame rate that is not a positive finite number gives way to 30 frames per second for the
// duration, so the duration is always finite. Returns false, with nothing appended, when the
// tag cannot be built for lack of memory.
[[nodiscard]] bool WriteMetaData(COutputStream& output, const StreamFacts& facts);
