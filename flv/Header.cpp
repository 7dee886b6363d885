#include "flv/Header.h"

#include <algorithm>

#include "io/FieldWriters.h"

std::unique_ptr<CFlashObject> CFLV_Header::Clone() const {
    return std::make_unique<CFLV_Header>(*this);
}

void CFLV_Header::Write(COutputStream& output) {
    for (BYTE byte : signature) WriteValue(output, byte, FieldType::UI8);
    WriteValue(output, version, FieldType::UI8);
    typeFlags = static_cast<BYTE>((audioPresent != 0 ? kAudioFlag : 0) |
                                  (videoPresent != 0 ? kVideoFlag : 0));
    WriteValue(output, typeFlags, FieldType::UI8);
    WriteValue(output, dataOffset, FieldType::UI32);
}

bool CFLV_Header::Read(CInputStream& input) {
    try {
        // Each field is read into a temporary, so that a field that is not there keeps the
        // value it had.
        BYTE byte = 0;
        for (BYTE& target : signature) {
            if (!input.ReadValue(byte, FieldType::UI8)) return false;
            target = byte;
        }
        if (!input.ReadValue(byte, FieldType::UI8)) return false;
        version = byte;
        if (!input.ReadValue(byte, FieldType::UI8)) return false;
        typeFlags = byte;
        audioPresent = typeFlags & kAudioFlag;
        videoPresent = typeFlags & kVideoFlag;
        std::uint32_t offset = 0;
        if (!input.ReadValue(offset, FieldType::UI32)) return false;
        dataOffset = offset;
        return true;
    } catch (...) {
        return false;
    }
}

bool CFLV_Header::HasFlvSignature() const noexcept {
    return std::equal(std::begin(signature), std::end(signature), std::begin(kSignature));
}
