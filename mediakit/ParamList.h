// The content of a parameter container as plain values: ordered names, each with a list of typed
// elements. MediaParams keeps one under its lock; copies, merges and the file format work on
// snapshots of it.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"

namespace mediakit {

// One element. The alternatives are in MediaParamType order: index + 1 is the type code.
using ParamValue = std::variant<VARIANT_BOOL, LONG, ULONGLONG, double, std::wstring,
                                ComPtr<IMediaParams>, ComPtr<IStream>, ComPtr<IUnknown>>;

inline LONG TypeOf(const ParamValue& value) noexcept {
    return static_cast<LONG>(value.index()) + 1;
}

struct ParamEntry {
    std::wstring name;
    std::vector<ParamValue> values;  // never empty
};
using ParamList = std::vector<ParamEntry>;

// Containers nest at most this deep in copies and files (a container that holds itself, directly
// or through others, ends there instead of recursing without end).
constexpr int kMaxParamsDepth = 64;

// Reads every name and element of `source` through its interface; object elements are shared.
HRESULT SnapshotParams(IMediaParams* source, ParamList& list);

// Replaces every container and stream element of `list` with an independent copy (containers
// copied all the way down); objects stay shared. `depth` is the nesting level of `list`. Fails
// with E_FAIL beyond kMaxParamsDepth.
HRESULT CopyParamsDeep(ParamList& list, int depth);

// A new MediaParams holding `list`.
HRESULT CreateParams(ParamList&& list, ComPtr<IMediaParams>& params);

}  // namespace mediakit
