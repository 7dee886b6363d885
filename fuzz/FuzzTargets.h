// The fuzz targets' entry points, one per parser entry point of the component. Each takes one
// input, checks what must hold for it (FUZZ_CHECK aborts otherwise) and returns 0. libFuzzer
// reaches each through FuzzMain.cpp; the tests replay files through all of them.
#pragma once

#include <cstddef>
#include <cstdint>

// CFLV_Manager's walk of a file, and its extension after the file grew (WalkFuzzer.cpp).
int FuzzWalk(const std::uint8_t* data, std::size_t size);
// CFLV_TemplateData reading tags at indexed positions and in sequence (TagFuzzer.cpp).
int FuzzTag(const std::uint8_t* data, std::size_t size);
// CFLV_ScriptData::Read of a script tag body, and its write back (ScriptFuzzer.cpp).
int FuzzScript(const std::uint8_t* data, std::size_t size);
// MediaParams::LoadFromFile of a container file, as the index cache keeps it (ParamsFuzzer.cpp).
int FuzzParams(const std::uint8_t* data, std::size_t size);
// A stored index loaded by CFLV_Manager and used by FlashFile5 as a stale index cache
// (StoredIndexFuzzer.cpp).
int FuzzStoredIndex(const std::uint8_t* data, std::size_t size);
// A file opened and read through FlashFile5, without and with the index cache (FileFuzzer.cpp).
int FuzzFile(const std::uint8_t* data, std::size_t size);
