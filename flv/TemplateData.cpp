#include "flv/TemplateData.h"

#include <cwctype>

#include "flv/AudioData.h"
#include "flv/ScriptData.h"
#include "flv/VideoData.h"
#include "io/FieldWriters.h"

namespace {
bool SameNameIgnoringCase(const wchar_t* left, const wchar_t* right) {
    if (left == nullptr || right == nullptr) return false;
    for (; *left != L'\0' && *right != L'\0'; ++left, ++right) {
        if (std::towlower(static_cast<wint_t>(*left)) !=
            std::towlower(static_cast<wint_t>(*right))) {
            return false;
        }
    }
    return *left == *right;
}
}  // namespace

CFLV_TemplateData::~CFLV_TemplateData() = default;

std::unique_ptr<CFlashObject> CFLV_TemplateData::NewBody(std::uint32_t type) {
    switch (type) {
        case kFlvAudioTag:
            return std::make_unique<CFLV_AudioData>();
        case kFlvVideoTag:
            return std::make_unique<CFLV_VideoData>();
        case kFlvScriptTag:
            return std::make_unique<CFLV_ScriptData>();
        default:
            return nullptr;
    }
}

std::unique_ptr<CFlashObject> CFLV_TemplateData::Clone() const {
    auto copy = std::make_unique<CFLV_TemplateData>();
    copy->DataSize = DataSize;
    copy->tagType = tagType;
    copy->timestamp = timestamp;
    copy->tagDataSize = tagDataSize;
    if (body) copy->body = body->Clone();
    return copy;
}

std::uint32_t CFLV_TemplateData::GetDataSize() {
    if (tagDataSize == 0 && body) tagDataSize = body->GetDataSize();
    return tagDataSize;
}

void CFLV_TemplateData::Write(COutputStream& output) {
    WriteValue(output, tagType, FieldType::UI8);
    WriteValue(output, body ? body->GetDataSize() : 0u, FieldType::UI24);
    WriteValue(output, timestamp & 0xFFFFFFu, FieldType::UI24);
    WriteValue(output, timestamp >> 24, FieldType::UI8);
    WriteValue(output, 0u, FieldType::UI24);  // StreamID
    if (body) body->Write(output);
}

void CFLV_TemplateData::TakeHeader(const FlvTagHeader& header) {
    tagType = header.tagType;
    tagDataSize = header.dataSize;
    timestamp = header.timestamp;
}

bool CFLV_TemplateData::Read(CInputStream& input) {
    try {
        FlvTagHeader header;
        if (!ReadFlvTagHeader(input, header)) return false;
        if (IsFlvBodyTag(header.tagType)) body = NewBody(header.tagType);
        TakeHeader(header);
        if (!IsFlvBodyTag(tagType)) return FlvStepOver(input, tagDataSize);
        if (tagDataSize == 0 || !input.EnsureAvailable(tagDataSize)) return false;
        body->DataSize = tagDataSize;
        return body->Read(input);
    } catch (...) {
        return false;
    }
}

bool CFLV_TemplateData::Scan(CInputStream& input) {
    try {
        FlvTagHeader header;
        if (!ReadFlvTagHeader(input, header)) return false;
        TakeHeader(header);
        if (!IsFlvBodyTag(tagType)) return false;
        body = NewBody(tagType);
        // Only the presence of the body in the file is checked here: the body loads what it
        // reads and steps over its payload without bringing it into the window.
        if (!FlvBytesInFile(input, tagDataSize)) return false;
        body->DataSize = tagDataSize;
        return body->Scan(input);
    } catch (...) {
        return false;
    }
}

CFLV_VideoData* CFLV_TemplateData::VideoBody() const noexcept {
    return dynamic_cast<CFLV_VideoData*>(body.get());
}

CFLV_AudioData* CFLV_TemplateData::AudioBody() const noexcept {
    return dynamic_cast<CFLV_AudioData*>(body.get());
}

CFLV_ScriptData* CFLV_TemplateData::ScriptBody() const noexcept {
    return dynamic_cast<CFLV_ScriptData*>(body.get());
}

void CFLV_TemplateData::SetBody(std::unique_ptr<CFlashObject> newBody, std::uint32_t type) {
    tagType = type;
    if (newBody) {
        const wchar_t* name = newBody->GetName();
        if (SameNameIgnoringCase(name, L"Script Data")) {
            tagType = kFlvScriptTag;
        } else if (SameNameIgnoringCase(name, L"Audio Data")) {
            tagType = kFlvAudioTag;
        } else if (SameNameIgnoringCase(name, L"Video Data")) {
            tagType = kFlvVideoTag;
        }
    }
    body = std::move(newBody);
}
