#include "tests/support/FlvBuilder.h"

#include <bit>
#include <cstring>

FlvBuilder::FlvBuilder(std::uint8_t typeFlags) {
    bytes_ = "FLV";
    bytes_ += '\x01';  // version
    bytes_ += static_cast<char>(typeFlags);
    bytes_ += BigEndian(9, 4);  // data offset
    bytes_ += BigEndian(0, 4);  // PreviousTagSize0
}

std::string FlvBuilder::BigEndian(std::uint32_t value, unsigned bytes) {
    std::string out;
    for (unsigned i = bytes; i > 0; --i) out += static_cast<char>((value >> (8 * (i - 1))) & 0xFF);
    return out;
}

std::size_t FlvBuilder::TagClaiming(std::uint8_t type, std::uint32_t time, std::uint32_t dataSize,
                                    std::string_view body) {
    const std::size_t offset = bytes_.size();
    bytes_ += static_cast<char>(type);
    bytes_ += BigEndian(dataSize, 3);
    bytes_ += BigEndian(time & 0xFFFFFF, 3);
    bytes_ += static_cast<char>(time >> 24);
    bytes_ += BigEndian(0, 3);
    bytes_ += body;
    return offset;
}

std::size_t FlvBuilder::Tag(std::uint8_t type, std::uint32_t time, std::string_view body,
                            Trailer trailer, std::uint32_t streamId) {
    const std::size_t offset =
        TagClaiming(type, time, static_cast<std::uint32_t>(body.size()), body);
    bytes_.replace(offset + 8, 3, BigEndian(streamId, 3));
    const auto total = static_cast<std::uint32_t>(11 + body.size());
    if (trailer == Trailer::kCorrect) bytes_ += BigEndian(total, 4);
    if (trailer == Trailer::kWrong) bytes_ += BigEndian(total + 1000, 4);
    return offset;
}

std::string FlvBuilder::Payload(std::size_t count) {
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>(i & 0xFF);
    return out;
}

std::string FlvBuilder::VideoBody(std::uint8_t frameType, std::uint8_t codecId,
                                  std::size_t payloadBytes) {
    std::string body(1, static_cast<char>((frameType << 4) | (codecId & 0x0F)));
    if (codecId == 4 || codecId == 5) body += '\x00';  // VP6 adjustment byte
    if (codecId == 7) return AvcBody(frameType, 1, 0, Payload(payloadBytes));
    return body + Payload(payloadBytes);
}

std::string FlvBuilder::AvcBody(std::uint8_t frameType, std::uint8_t packetType,
                                std::int32_t compositionTime, std::string_view payload) {
    std::string body(1, static_cast<char>((frameType << 4) | 7));
    body += static_cast<char>(packetType);
    body += BigEndian(static_cast<std::uint32_t>(compositionTime) & 0xFFFFFF, 3);
    body += payload;
    return body;
}

std::string FlvBuilder::AudioBody(std::uint8_t soundFormat, std::uint8_t soundRate,
                                  std::uint8_t soundSize, std::uint8_t soundType,
                                  std::size_t payloadBytes) {
    std::string body(1, static_cast<char>((soundFormat << 4) | ((soundRate & 3) << 2) |
                                          ((soundSize & 1) << 1) | (soundType & 1)));
    if (soundFormat == 10) body += '\x01';  // raw AAC
    return body + Payload(payloadBytes);
}

std::string FlvBuilder::AvcRecord() {
    return std::string(
        "\x01\x42\xC0\x1E\xFF"  // version 1, profile 66, compatibility, level 30, NAL length 4
        "\xE1\x00\x04\x67\x42\xC0\x1E"  // one SPS of 4 bytes
        "\x01\x00\x02\x68\xCE",         // one PPS of 2 bytes
        18);
}

std::size_t FlvBuilder::Video(std::uint32_t time, std::uint8_t frameType, std::uint8_t codecId,
                              std::size_t payloadBytes, Trailer trailer) {
    return Tag(9, time, VideoBody(frameType, codecId, payloadBytes), trailer);
}

std::size_t FlvBuilder::AvcSequenceHeader(std::uint32_t time, std::string_view record) {
    return Tag(9, time, AvcBody(1, 0, 0, record));
}

std::size_t FlvBuilder::AvcFrame(std::uint32_t time, std::uint8_t frameType,
                                 std::int32_t compositionTime, std::size_t payloadBytes,
                                 Trailer trailer) {
    return Tag(9, time, AvcBody(frameType, 1, compositionTime, Payload(payloadBytes)), trailer);
}

std::size_t FlvBuilder::Audio(std::uint32_t time, std::uint8_t soundFormat, std::uint8_t soundRate,
                              std::uint8_t soundSize, std::uint8_t soundType,
                              std::size_t payloadBytes, Trailer trailer) {
    return Tag(8, time, AudioBody(soundFormat, soundRate, soundSize, soundType, payloadBytes),
               trailer);
}

std::size_t FlvBuilder::AacSequenceHeader(std::uint32_t time, std::string_view config) {
    return Tag(8, time, std::string("\xAF\x00", 2) + std::string(config));
}

std::size_t FlvBuilder::AacFrame(std::uint32_t time, std::size_t payloadBytes) {
    return Audio(time, 10, 3, 1, 1, payloadBytes);
}

std::size_t FlvBuilder::Script(std::uint32_t time, std::string_view amf0, Trailer trailer) {
    return Tag(18, time, amf0, trailer);
}

FlvBuilder& FlvBuilder::Raw(std::string_view bytes) {
    bytes_ += bytes;
    return *this;
}

std::string FlvBuilder::Amf0Number(double value) {
    return std::string(1, '\x00') +
           BigEndian(static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value) >> 32), 4) +
           BigEndian(static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value)), 4);
}

std::string FlvBuilder::Amf0Bool(bool value) {
    return std::string(1, '\x01') + (value ? '\x01' : '\x00');
}

std::string FlvBuilder::Amf0Name(std::string_view text) {
    return BigEndian(static_cast<std::uint32_t>(text.size()), 2) + std::string(text);
}

std::string FlvBuilder::Amf0String(std::string_view text) {
    return std::string(1, '\x02') + Amf0Name(text);
}

std::string FlvBuilder::OnMetaData(
    const std::vector<std::pair<std::string, std::string>>& properties) {
    std::string body = Amf0String("onMetaData");
    body += '\x08';  // ECMA array
    body += BigEndian(static_cast<std::uint32_t>(properties.size()), 4);
    for (const auto& [name, value] : properties) body += Amf0Name(name) + value;
    body += std::string("\x00\x00\x09", 3);  // object end
    return body;
}
