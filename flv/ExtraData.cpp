#include "flv/ExtraData.h"

#include "io/InputStream.h"

void CExtraData::Assign(const BYTE* source, std::uint64_t count) {
    if (source == nullptr) count = 0;
    bytes.assign(source, source + count);
}

void CExtraData::Clear() noexcept {
    std::vector<BYTE>().swap(bytes);
}

bool CExtraData::Load(CInputStream& input, std::uint64_t count) {
    return input.ReadBytes(bytes, count);
}
