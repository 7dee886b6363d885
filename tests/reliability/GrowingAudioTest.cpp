// The sound of a file that grows while it is read: written in random pieces, with ReOpenFile and
// a read to the end of what is there after each, the PCM delivered is the PCM of one read of
// the finished file. The tracks are ones whose sound is not in step with the tags' times to the
// sample (AAC, whose times are rounded after the encoder's shift), with a first tag that comes
// late and a gap in the middle (the silence for it must come when the tag after it does). The
// end of the track was once padded with silence at each boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

namespace {
namespace fs = std::filesystem;

constexpr std::size_t kReadLimit = 100000;

const Sample kSamples[] = {
    {"growing_aac.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 3 -ac 2 -c:a aac"},
    {"growing_adpcm.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 3 -ac 1 -c:a adpcm_swf"},
};

// Every audio tag 200 ms later, and those from 1 s on 350 ms later still.
std::string LateWithAGap(std::string flv) {
    for (const FlvTag& tag : TagsOf(flv)) {
        if (tag.type != 8) continue;
        const std::uint32_t time = tag.time + 200 + (tag.time >= 1000 ? 350 : 0);
        SetTagTime(flv, tag.offset, time);
    }
    return flv;
}

std::string Pcm(const std::vector<Packet>& packets) {
    std::string pcm;
    for (const Packet& packet : packets) pcm += packet.bytes;
    return pcm;
}

TEST(GrowingAudioTest, SoundAcrossReOpensIsOneReadOfTheFinishedFile) {
    CacheFolders folders;
    RegisterComponent();
    std::mt19937 random(18);
    for (const Sample& sample : kSamples) {
        REQUIRE_SAMPLE(path, sample);
        for (const bool edited : {false, true}) {
            SCOPED_TRACE(testing::Message() << sample.name << (edited ? ", late with a gap" : ""));
            const std::string whole = edited ? LateWithAGap(FileBytes(path)) : FileBytes(path);
            const std::vector<FlvTag> tags = TagsOf(whole);
            const auto firstSound = std::find_if(tags.begin(), tags.end(), [](const FlvTag& tag) {
                const bool aacConfig = tag.body.size() > 1 &&
                                       static_cast<std::uint8_t>(tag.body[0]) >> 4 == 10 &&
                                       tag.body[1] == 0;
                return tag.type == 8 && tag.body.size() > 2 && !aacConfig;
            });
            ASSERT_NE(firstSound, tags.end());
            // Opened once the first tag of sound is there (the tracks are fixed at the open).
            std::size_t written = firstSound->offset + 11 + firstSound->body.size();
            const fs::path growing = folders.temp.Write(
                std::string(edited ? "edited_" : "") + sample.name, whole.substr(0, written));
            const ComPtr<IMediaSource> source = OpenFile(growing, nullptr);
            ASSERT_TRUE(source);
            ComPtr<IFlashFile5> file;
            ASSERT_EQ(ComPtr<IMediaSource>(source).As(file), S_OK);

            std::vector<Packet> read = ReadPackets(source.Get(), false, kReadLimit, true);
            while (written < whole.size()) {
                const std::size_t piece = std::min<std::size_t>(
                    std::uniform_int_distribution<std::size_t>(1, 3000)(random),
                    whole.size() - written);
                std::ofstream(growing, std::ios::binary | std::ios::app)
                    << whole.substr(written, piece);
                written += piece;
                ASSERT_EQ(file->ReOpenFile(), S_OK);
                for (Packet& packet : ReadPackets(source.Get(), false, kReadLimit, true))
                    read.push_back(std::move(packet));
            }
            for (std::size_t i = 1; i < read.size(); ++i) {
                EXPECT_NEAR(read[i].time, read[i - 1].time + read[i - 1].duration, 1e-6) << i;
            }
            const ComPtr<IMediaSource> fresh = OpenFile(growing, nullptr);
            ASSERT_TRUE(fresh);
            const std::string expected = Pcm(ReadPackets(fresh.Get(), false, kReadLimit, true));
            EXPECT_TRUE(Pcm(read) == expected)
                << Pcm(read).size() << " bytes against " << expected.size();
        }
    }
}

}  // namespace
