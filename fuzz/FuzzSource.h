// Driving FlashFile5 as a host does, for the targets that go through the whole component: the
// classes registered in the process, an open by file name (and hash), and reading every track
// with a few seeks, each step's result checked to be one the component may give.
#pragma once

#include <cstddef>
#include <string>

#include "frame/Interfaces.h"
#include "platform/ComPtr.h"

// Registers mediakit and the component's classes (FlashFile5 and both stream objects) once.
void RegisterComponent();

// S_OK or S_FALSE, a code of the component's error table, E_FAIL, E_POINTER or E_OUTOFMEMORY.
// Anything else (an uninitialised value, a code from nowhere) is a fault.
bool IsKnownComponentResult(HRESULT hr);

// A new FlashFile5 that has opened `path` (with "FileHash" `hash` unless null); null when the
// open failed, which must be with a known result.
ComPtr<IMediaSource> OpenSource(const std::wstring& path, const wchar_t* hash);

// What a pass over the tracks saw.
struct TrackReading {
    long videoTracks = 0;
    long audioTracks = 0;
    double videoDuration = 0.0;
    double audioDuration = 0.0;
    std::size_t videoPackets = 0;
    std::size_t audioPackets = 0;
};

// Reads the current video and audio track from the start (at most `limit` packets each), seeks
// to the middle, past the end and before the start and reads again, then re-opens the file and
// reads once more. Every result is checked.
TrackReading ReadTracks(IMediaSource* source, std::size_t limit);
