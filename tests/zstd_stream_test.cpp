// Decoding of compressed entry data: frames made by the `zstd` tool (1.5.4, level 19, with its
// checksum) and frames written by hand where a header field is the point.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "install/zstd_stream.h"

namespace {

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// "entry 0 of the patch\n" ... "entry 199 of the patch\n": Huffman literals and repeat offsets.
std::string EntryLines() {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "entry " + std::to_string(i) + " of the patch\n";
    return text;
}
const std::string kEntryLinesFrame = FromHex(
    "28b52ffd648a1025080006142a15a029ad01f8c5bb26db007030d95b4a29c5e28aa7462d0026001a006666666666555555555544444444443"
    "333333333ff1f859c154dc081c01828028503236048040481c682812804ffff2f282828282828282828781cc7711cc7711ca594524a29a5104"
    "208218410727777777717d65a6badb5d6d65a6badb5d64a29a594524ae99c73ce39e79c01c7e3f1783c1e8fc7635996655996655992244992"
    "244992e4bdf7de7befbd0180c8a81110fafd3bd053751128049f100cf103574bb3b3b999595b55cdcdccd6666a6d713ad0fb1ccdab9ce46d9"
    "ce21d0ef00b000800800000080080000008d437bcab1bb86b1bda950decba86f5150c13182698c95a1120557f875ca4");

// 400,000 bytes of "patch!\n" from 63 bytes: more output than the decoder hands over in one piece.
std::string Repeated() {
    std::string text;
    while (text.size() < 400000) text += "patch!\n";
    return text.substr(0, 400000);
}
const std::string kRepeatedFrame = FromHex(
    "28b52ffda4801a06007c0000387061746368210a0100f6ffca8b11440000000100fdffca0b10440000000100fdff3900023d00000001007d"
    "da0320e78740c1");

const std::string kFirstFrame = FromHex("28b52ffd240c6100006669727374206672616d650a0ec2c72a");     // "first frame\n"
const std::string kSecondFrame = FromHex("28b52ffd240d6900007365636f6e64206672616d650a9e3973ab");  // "second frame\n"
// Magic 0x184D2A50, 3 bytes of content that a decoder skips.
const std::string kSkippableFrame = FromHex("502a4d1803000000414243");

// "hello" in one raw block under a frame header that declares only a window of 2^windowLog.
std::string HelloWithWindow(int windowLog) {
    return FromHex("28b52ffd00") + static_cast<char>((windowLog - 10) << 3) + FromHex("290000") + "hello";
}

std::string Flipped(std::string bytes, size_t at) {
    bytes[at] ^= 0x01;
    return bytes;
}

TEST(DecodeZstd, OnlyCompleteFramesWithinTheWindowLimitAndTheDeclaredSize) {
    const std::string lines = EntryLines(), repeated = Repeated();
    const std::string& frame = kEntryLinesFrame;
    struct Case {
        const char* what;
        std::string data;
        uint64_t declared;
        bool decodes;
        std::string output;
    } cases[] = {
        {"frame", frame, lines.size(), true, lines},
        {"large output", kRepeatedFrame, repeated.size(), true, repeated},
        {"frames in a row, a skippable one among them", kFirstFrame + kSkippableFrame + kSecondFrame, 25, true,
         "first frame\nsecond frame\n"},
        {"window at the limit", HelloWithWindow(kZstdWindowLogMax), 5, true, "hello"},
        {"window over the limit", HelloWithWindow(kZstdWindowLogMax + 1), 5, false, ""},
        {"output longer than declared", kRepeatedFrame, repeated.size() - 1, false, ""},
        {"output shorter than declared", frame, lines.size() + 1, false, ""},
        {"last byte missing", frame.substr(0, frame.size() - 1), lines.size(), false, ""},
        {"cut in the middle", frame.substr(0, frame.size() / 2), lines.size(), false, ""},
        {"one byte after the frame", frame + '\0', lines.size(), false, ""},
        {"other bytes after the frame", frame + "not zstd", lines.size(), false, ""},
        {"checksum does not match", Flipped(frame, frame.size() - 1), lines.size(), false, ""},
        {"nothing", "", 0, false, ""},
    };
    ZstdDecoderContext context;  // one for every case, as the payload reuses it from entry to entry
    for (const Case& c : cases) {
        std::string fromBuffer;
        const ZstdSink toBuffer = [&](const void* data, size_t size) {
            fromBuffer.append(static_cast<const char*>(data), size);
            return true;
        };
        EXPECT_EQ(DecodeZstdBuffer(context, c.data.data(), c.data.size(), c.declared, toBuffer), c.decodes) << c.what;
        EXPECT_LE(fromBuffer.size(), c.declared) << c.what;
        if (c.decodes) {
            EXPECT_EQ(fromBuffer, c.output) << c.what;
        }

        // The same data a byte at a time from a source.
        size_t position = 0;
        const ZstdSource byteByByte = [&](void* buffer, size_t, size_t& got) {
            got = position < c.data.size() ? 1 : 0;
            if (got) *static_cast<char*>(buffer) = c.data[position++];
            return true;
        };
        std::string fromSource;
        const ZstdSink toSource = [&](const void* data, size_t size) {
            fromSource.append(static_cast<const char*>(data), size);
            return true;
        };
        EXPECT_EQ(DecodeZstdStream(context, byteByByte, c.declared, toSource), c.decodes) << c.what;
        EXPECT_LE(fromSource.size(), c.declared) << c.what;
        if (c.decodes) {
            EXPECT_EQ(fromSource, c.output) << c.what;
        }
    }
}

}  // namespace
