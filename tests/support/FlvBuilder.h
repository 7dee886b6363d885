// FlvBuilder: FLV files as byte strings, for tests that need particular or broken files.
//
// A builder starts with the 9-byte file header and PreviousTagSize0, so the first tag lands at
// offset 13. Each tag method appends one tag (11-byte header, body, PreviousTagSize) and returns
// the tag's file offset. The PreviousTagSize can be right (11 + DataSize), wrong, or left out;
// Raw appends anything at all. Payload bytes follow a counting pattern (byte i is i & 0xFF), so
// a reader's copy can be checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FlvBuilder {
  public:
    enum class Trailer { kCorrect, kWrong, kMissing };

    // FLV header with `typeFlags` (0x01 video, 0x04 audio), then PreviousTagSize0.
    explicit FlvBuilder(std::uint8_t typeFlags = 0x05);

    // One tag of any type holding `body`; DataSize is the body's size.
    std::size_t Tag(std::uint8_t type, std::uint32_t time, std::string_view body,
                    Trailer trailer = Trailer::kCorrect, std::uint32_t streamId = 0);
    // One tag whose header claims `dataSize` bytes, whatever `body` holds (a lie past the end
    // of the file, or a short body). No PreviousTagSize.
    std::size_t TagClaiming(std::uint8_t type, std::uint32_t time, std::uint32_t dataSize,
                            std::string_view body);

    // Video tag with the header byte (frame type, codec id) and `payloadBytes` of payload; a
    // VP6 codec id (4, 5) gets the adjustment byte 0x00 first, an AVC one (7) is a NALU frame
    // with composition time 0.
    std::size_t Video(std::uint32_t time, std::uint8_t frameType, std::uint8_t codecId,
                      std::size_t payloadBytes, Trailer trailer = Trailer::kCorrect);
    std::size_t AvcSequenceHeader(std::uint32_t time, std::string_view record = AvcRecord());
    std::size_t AvcFrame(std::uint32_t time, std::uint8_t frameType, std::int32_t compositionTime,
                         std::size_t payloadBytes, Trailer trailer = Trailer::kCorrect);
    // Audio tag: header byte from the four fields, then `payloadBytes` of payload (an AAC
    // format gets AACPacketType 1 first).
    std::size_t Audio(std::uint32_t time, std::uint8_t soundFormat, std::uint8_t soundRate,
                      std::uint8_t soundSize, std::uint8_t soundType, std::size_t payloadBytes,
                      Trailer trailer = Trailer::kCorrect);
    std::size_t AacSequenceHeader(std::uint32_t time, std::string_view config = "\x12\x10");
    std::size_t AacFrame(std::uint32_t time, std::size_t payloadBytes);
    // Script tag from raw AMF0 bytes.
    std::size_t Script(std::uint32_t time, std::string_view amf0,
                       Trailer trailer = Trailer::kCorrect);

    FlvBuilder& Raw(std::string_view bytes);
    const std::string& Bytes() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

    // Bodies, for tags put together by hand.
    static std::string Payload(std::size_t count);
    static std::string VideoBody(std::uint8_t frameType, std::uint8_t codecId,
                                 std::size_t payloadBytes);
    static std::string AvcBody(std::uint8_t frameType, std::uint8_t packetType,
                               std::int32_t compositionTime, std::string_view payload);
    static std::string AudioBody(std::uint8_t soundFormat, std::uint8_t soundRate,
                                 std::uint8_t soundSize, std::uint8_t soundType,
                                 std::size_t payloadBytes);
    // A minimal AVCDecoderConfigurationRecord (profile 66, level 30, one SPS, one PPS).
    static std::string AvcRecord();

    // AMF0 pieces.
    static std::string Amf0Number(double value);
    static std::string Amf0Bool(bool value);
    static std::string Amf0String(std::string_view text);
    // A property name: UI16 length and the bytes, no marker.
    static std::string Amf0Name(std::string_view text);
    // "onMetaData" with an ECMA array of `properties` (name, encoded value) and its end marker.
    static std::string OnMetaData(
        const std::vector<std::pair<std::string, std::string>>& properties);

    // Big-endian integers of 1 to 4 bytes.
    static std::string BigEndian(std::uint32_t value, unsigned bytes);

  private:
    std::string bytes_;
};
