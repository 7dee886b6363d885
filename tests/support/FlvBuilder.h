// FlvBuilder: FLV files as byte strings, for tests that need particular or broken files.
//
// A builder starts with the 9-byte file header and PreviousTagSize0, so the first tag lands at
// offset 13. Each tag method appends one tag (11-byte header, body, PreviousTagSize) and returns
// the tag's file offset. The PreviousTagSize can be right (11 + DataSize), wrong, or left out;
// Raw appends anything at all. Payload bytes follow a counting pattern (byte i is i & 0xFF), so
// a reader's copy can be checked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FlvBuilder {
  public:
    enum class Trailer { kCorrect, kWrong, kMissing };

    // FLV header: signature, version 1, `typeFlags` (0x01 video, 0x04 audio), data offset 9,
    // then PreviousTagSize0.
    explicit FlvBuilder(std::uint8_t typeFlags = 0x05)
        : bytes_(std::string("FLV\x01", 4) + char(typeFlags) + BigEndian(9, 4) + BigEndian(0, 4)) {}

    // One tag of any type holding `body`; DataSize is the body's size.
    std::size_t Tag(std::uint8_t type, std::uint32_t time, std::string_view body,
                    Trailer trailer = Trailer::kCorrect, std::uint32_t streamId = 0) {
        const auto size = static_cast<std::uint32_t>(body.size());
        const std::size_t offset = TagClaiming(type, time, size, body);
        bytes_.replace(offset + 8, 3, BigEndian(streamId, 3));
        if (trailer != Trailer::kMissing) {
            bytes_ += BigEndian(11 + size + (trailer == Trailer::kWrong ? 1000 : 0), 4);
        }
        return offset;
    }
    // One tag whose header claims `dataSize` bytes, whatever `body` holds (a lie past the end
    // of the file, or a short body). No PreviousTagSize.
    std::size_t TagClaiming(std::uint8_t type, std::uint32_t time, std::uint32_t dataSize,
                            std::string_view body) {
        // Type, DataSize, Timestamp, TimestampExtended, StreamID, body.
        const std::size_t offset = bytes_.size();
        bytes_ += char(type) + BigEndian(dataSize, 3) + BigEndian(time & 0xFFFFFF, 3) +
                  char(time >> 24) + BigEndian(0, 3) + std::string(body);
        return offset;
    }

    // Video tag with the header byte (frame type, codec id) and `payloadBytes` of payload; a
    // VP6 codec id (4, 5) gets the adjustment byte 0x00 first, an AVC one (7) is a NALU frame
    // with composition time 0.
    std::size_t Video(std::uint32_t time, std::uint8_t frameType, std::uint8_t codecId,
                      std::size_t payloadBytes, Trailer trailer = Trailer::kCorrect) {
        return Tag(9, time, VideoBody(frameType, codecId, payloadBytes), trailer);
    }
    std::size_t AvcSequenceHeader(std::uint32_t time, std::string_view record = AvcRecord()) {
        return Tag(9, time, AvcBody(1, 0, 0, record));
    }
    std::size_t AvcFrame(std::uint32_t time, std::uint8_t frameType, std::int32_t compositionTime,
                         std::size_t payloadBytes, Trailer trailer = Trailer::kCorrect) {
        return Tag(9, time, AvcBody(frameType, 1, compositionTime, Payload(payloadBytes)), trailer);
    }
    // Audio tag: header byte from the four fields, then `payloadBytes` of payload (an AAC
    // format gets AACPacketType 1 first).
    std::size_t Audio(std::uint32_t time, std::uint8_t soundFormat, std::uint8_t soundRate,
                      std::uint8_t soundSize, std::uint8_t soundType, std::size_t payloadBytes,
                      Trailer trailer = Trailer::kCorrect) {
        return Tag(8, time, AudioBody(soundFormat, soundRate, soundSize, soundType, payloadBytes),
                   trailer);
    }
    std::size_t AacSequenceHeader(std::uint32_t time, std::string_view config = "\x12\x10") {
        return Tag(8, time, std::string("\xAF\x00", 2) + std::string(config));
    }
    std::size_t AacFrame(std::uint32_t time, std::size_t payloadBytes) {
        return Audio(time, 10, 3, 1, 1, payloadBytes);
    }
    // Script tag from raw AMF0 bytes.
    std::size_t Script(std::uint32_t time, std::string_view amf0,
                       Trailer trailer = Trailer::kCorrect) {
        return Tag(18, time, amf0, trailer);
    }

    FlvBuilder& Raw(std::string_view bytes) {
        bytes_ += bytes;
        return *this;
    }
    const std::string& Bytes() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

    // Bodies, for tags put together by hand.
    static std::string Payload(std::size_t count) {
        std::string out(count, '\0');
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>(i & 0xFF);
        return out;
    }
    static std::string VideoBody(std::uint8_t frameType, std::uint8_t codecId,
                                 std::size_t payloadBytes) {
        if (codecId == 7) return AvcBody(frameType, 1, 0, Payload(payloadBytes));
        const bool vp6 = codecId == 4 || codecId == 5;  // with the adjustment byte
        return char(frameType << 4 | (codecId & 0x0F)) + std::string(vp6 ? 1 : 0, '\0') +
               Payload(payloadBytes);
    }
    static std::string AvcBody(std::uint8_t frameType, std::uint8_t packetType,
                               std::int32_t compositionTime, std::string_view payload) {
        return std::string{char(frameType << 4 | 7), char(packetType)} +
               BigEndian(static_cast<std::uint32_t>(compositionTime) & 0xFFFFFF, 3) +
               std::string(payload);
    }
    static std::string AudioBody(std::uint8_t soundFormat, std::uint8_t soundRate,
                                 std::uint8_t soundSize, std::uint8_t soundType,
                                 std::size_t payloadBytes) {
        const char header =
            char(soundFormat << 4 | (soundRate & 3) << 2 | (soundSize & 1) << 1 | (soundType & 1));
        return header + std::string(soundFormat == 10 ? 1 : 0, '\x01') +  // raw AAC
               Payload(payloadBytes);
    }
    // A minimal AVCDecoderConfigurationRecord (profile 66, level 30, one SPS, one PPS).
    static std::string AvcRecord() {
        return std::string(
            "\x01\x42\xC0\x1E\xFF"  // version 1, profile 66, compatibility, level 30, NAL length 4
            "\xE1\x00\x04\x67\x42\xC0\x1E"  // one SPS of 4 bytes
            "\x01\x00\x02\x68\xCE",         // one PPS of 2 bytes
            18);
    }

    // AMF0 pieces.
    static std::string Amf0Number(double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        return '\x00' + BigEndian(std::uint32_t(bits >> 32), 4) + BigEndian(std::uint32_t(bits), 4);
    }
    static std::string Amf0Bool(bool value) { return {'\x01', value ? '\x01' : '\x00'}; }
    static std::string Amf0String(std::string_view text) { return '\x02' + Amf0Name(text); }
    // A property name: UI16 length and the bytes, no marker.
    static std::string Amf0Name(std::string_view text) {
        return BigEndian(static_cast<std::uint32_t>(text.size()), 2) + std::string(text);
    }
    // "onMetaData" with an ECMA array of `properties` (name, encoded value) and its end marker.
    static std::string OnMetaData(
        const std::vector<std::pair<std::string, std::string>>& properties) {
        std::string body = Amf0String("onMetaData") + '\x08' +  // ECMA array
                           BigEndian(static_cast<std::uint32_t>(properties.size()), 4);
        for (const auto& [name, value] : properties) body += Amf0Name(name) + value;
        return body + std::string("\x00\x00\x09", 3);  // object end
    }

    // Big-endian integers of 1 to 4 bytes.
    static std::string BigEndian(std::uint32_t value, unsigned bytes) {
        std::string out;
        for (unsigned i = bytes; i > 0; --i)
            out += static_cast<char>(value >> (8 * (i - 1)) & 0xFF);
        return out;
    }

  private:
    std::string bytes_;
};
