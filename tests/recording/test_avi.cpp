#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "RecTestUtil.h"
#include "recording/AviWriter.h"
#include "recording/WriterStatus.h"

using namespace rectest;

namespace {
const int32_t kStartCodec = CodecFourCC;

struct Probe {
    int frames = -1, width = -1, height = -1;
    std::string rate, output;
    bool errors = false;
};

// Decodes every frame with ffprobe; decoder complaints count as errors.
Probe FfProbe(const std::string& path) {
    Probe p;
    RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames,width,height,r_frame_rate -of default=nw=1 " +
            Quote(path),
        p.output);
    std::istringstream in(p.output);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq),
                          value = eq == std::string::npos ? "" : line.substr(eq + 1);
        if (key == "width")
            p.width = std::atoi(value.c_str());
        else if (key == "height")
            p.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate")
            p.rate = value;
        else if (key == "nb_read_frames")
            p.frames = std::atoi(value.c_str());
        else
            p.errors = true;
    }
    return p;
}

struct Decoded {
    int frames = 0;
    std::string dimensions, timeBase;
};

// Decodes several files in one ffmpeg run (one process start instead of one per file).
// `errors` receives the decoder's complaints; they name the input stream "#<index>:".
std::vector<Decoded> DecodeAll(const std::vector<std::string>& files, const std::string& scratch,
                               std::string& errors) {
    std::string cmd = "ffmpeg -v error -nostdin -y";
    for (const auto& f : files) cmd += " -i " + Quote(f);
    for (size_t i = 0; i < files.size(); ++i)
        cmd += " -map " + std::to_string(i) + ":v -f framecrc " +
               Quote(scratch + "/crc" + std::to_string(i) + ".txt");
    RunCommand(cmd, errors);
    std::vector<Decoded> out(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::ifstream in(scratch + "/crc" + std::to_string(i) + ".txt");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("#dimensions 0: ", 0) == 0)
                out[i].dimensions = line.substr(15);
            else if (line.rfind("#tb 0: ", 0) == 0)
                out[i].timeBase = line.substr(7);
            else if (!line.empty() && line[0] != '#')
                ++out[i].frames;
        }
    }
    return out;
}

// The grey samples of every frame, decoded by ffmpeg.
std::vector<uint8_t> DecodeGrey(const std::string& path) {
    const std::string raw = path + ".gray";
    std::string out;
    RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -f rawvideo -pix_fmt gray " + Quote(raw),
               out);
    auto bytes = ReadAll(raw);
    std::remove(raw.c_str());
    return bytes;
}

cv::Mat GreyFrame(int w, int h, int k) {
    cv::Mat m(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m.at<uint8_t>(y, x) = static_cast<uint8_t>(x * 3 + y * 5 + k * 40);
    return m;
}

cv::Mat ColourFrame(int w, int h) {
    cv::Mat m(h, w, CV_8UC3, cv::Scalar(200, 40, 10));
    m.rowRange(h / 2, h).setTo(cv::Scalar(10, 40, 200));
    return m;
}

class AviTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = CodecFourCC;
        AviPartLimitBytes = AviPartLimitMiB * 1024 * 1024;
    }
    void TearDown() override {
        AviClose();
        CodecFourCC = saved_;
        AviPartLimitBytes = AviPartLimitMiB * 1024 * 1024;
        SetAviCodecChooser(nullptr);
    }
    int32_t saved_ = 0;
    TempDir dir_;
};
}  // namespace

TEST(AviNames, FourCCAndPartNames) {
    EXPECT_EQ(kStartCodec, 0x56555949);  // I, Y, U, V with I in the lowest byte
    const int32_t saved = CodecFourCC;
    SetCodecFourCC('M', 'J', 'P', 'G');
    EXPECT_EQ(CodecFourCC, 'M' + 'J' * 256 + 'P' * 65536 + 'G' * 16777216);
    SetCodecFourCC('\xff', '\xff', '\xff', '\xff');
    EXPECT_EQ(CodecFourCC, CodecAsk);
    CodecFourCC = saved;
    EXPECT_EQ(AviPartLimitMiB * 1024 * 1024, 4194304000LL);

    AviPartNumber = 1;
    EXPECT_EQ(AviPartName("/obs/moon_00003.AVI"), "/obs/moon_00003-PART1.AVI");
    EXPECT_EQ(AviPartName("/obs/moon_00003.AVI"), "/obs/moon_00003-PART2.AVI");
    EXPECT_EQ(AviPartNumber, 3);
    AviPartNumber = 1;
}

TEST_F(AviTest, EveryOfferedCodecWritesGreyAndColourThatDecodes) {
    const auto codecs = AvailableCodecs();
    auto has = [&](int32_t fourcc, bool colour) {
        for (const AviCodec& c : codecs)
            if (c.FourCC == fourcc) return colour ? c.Colour : c.Grey;
        return false;
    };
    ASSERT_TRUE(has(0, false) && has(0, true));
    ASSERT_TRUE(has(kStartCodec, false) && has(kStartCodec, true));

    std::vector<std::string> files, labels;
    for (const AviCodec& c : codecs) {
        for (int colour = 0; colour < 2; ++colour) {
            if (!(colour ? c.Colour : c.Grey)) continue;
            CodecFourCC = c.FourCC;
            const std::string label = c.Name + (colour ? " colour" : " grey");
            const std::string path = dir_ / ("c" + std::to_string(files.size()) + ".AVI");
            ASSERT_EQ(AviOpen(path, 64, 48, colour), WriterAvi)
                << label << " " << LastWriterError();
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(AviWriteFrame(colour ? ColourFrame(64, 48) : GreyFrame(64, 48, k)))
                    << label;
            ASSERT_TRUE(AviClose()) << label << " " << LastWriterError();
            files.push_back(path.substr(0, path.size() - 4) + "-PART1.AVI");
            labels.push_back(label);
        }
    }
    std::string errors;
    const auto decoded = DecodeAll(files, dir_.path(), errors);
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(errors.find("#" + std::to_string(i) + ":"), std::string::npos)
            << labels[i] << "\n"
            << errors;
        EXPECT_EQ(decoded[i].frames, 3) << labels[i];
        EXPECT_EQ(decoded[i].dimensions, "64x48") << labels[i];
        EXPECT_EQ(decoded[i].timeBase, "1/10") << labels[i];
    }
    // The same files as ffprobe sees them, for the two codecs every user meets first.
    for (size_t i : {size_t{0}, size_t{1}}) {
        const Probe p = FfProbe(files[i]);
        EXPECT_FALSE(p.errors) << labels[i] << p.output;
        EXPECT_EQ(p.frames, 3) << labels[i];
        EXPECT_EQ(p.rate, "10/1") << labels[i];
    }
}

TEST_F(AviTest, GreyFramesKeepTheirSamples) {
    // Uncompressed: exactly; IYUV (grey handed over as colour): within rounding. The frame is
    // the camera buffer itself, rows padded to 4 bytes when the width is not a multiple of 4.
    for (int32_t codec : {0, kStartCodec}) {
        for (int width : {40, 38}) {
            CodecFourCC = codec;
            const std::string path =
                dir_ / ("g" + std::to_string(codec) + "_" + std::to_string(width) + ".AVI");
            ASSERT_EQ(AviOpen(path, width, 30, 0), WriterAvi);
            FramePtr frame(MakeFrame(width, 30));
            ASSERT_TRUE(AviWriteFrame(frame->RawImage));
            ASSERT_TRUE(AviWriteFrame(frame->RawImage));
            ASSERT_TRUE(AviClose());
            const auto got = DecodeGrey(path.substr(0, path.size() - 4) + "-PART1.AVI");
            ASSERT_EQ(got.size(), 2u * width * 30) << codec << " " << width;
            int worst = 0;
            for (int k = 0; k < 2; ++k)
                for (int y = 0; y < 30; ++y)
                    for (int x = 0; x < width; ++x)
                        worst = std::max(worst,
                                         std::abs(got[(k * 30 + y) * width + x] - Sample(x, y, 8)));
            EXPECT_LE(worst, codec ? 2 : 0) << codec << " " << width;
        }
    }
}

TEST_F(AviTest, PartsSwitchAfterTheLimitIsPassed) {
    CodecFourCC = 0;
    const int frameBytes = 32 * 24;
    // The limit is tested before a frame is counted: at exactly 3 frames a 4th still fits.
    for (const auto& [limit, perPart] :
         {std::pair{frameBytes * 5 / 2, 3}, std::pair{frameBytes * 3, 4}}) {
        AviPartLimitBytes = limit;
        const std::string path = dir_ / ("moon_" + std::to_string(perPart) + ".AVI");
        ASSERT_EQ(AviOpen(path, 32, 24, 0), WriterAvi);
        const int total = 2 * perPart + 1;
        for (int k = 0; k < total; ++k) ASSERT_TRUE(AviWriteFrame(GreyFrame(32, 24, k)));
        EXPECT_EQ(AviPartNumber, 4);
        ASSERT_TRUE(AviClose());
        EXPECT_EQ(AviPartNumber, 1);
        const std::string stem = path.substr(0, path.size() - 4);
        EXPECT_FALSE(std::filesystem::exists(path));
        std::vector<std::string> parts;
        for (int part = 1; part <= 3; ++part)
            parts.push_back(stem + "-PART" + std::to_string(part) + ".AVI");
        std::string errors;
        const auto decoded = DecodeAll(parts, dir_.path(), errors);
        EXPECT_EQ(errors, "");
        const int expect[3] = {perPart, perPart, 1};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(decoded[i].frames, expect[i]) << parts[i];
            EXPECT_EQ(decoded[i].dimensions, "32x24");
            EXPECT_EQ(decoded[i].timeBase, "1/10");
        }
        EXPECT_FALSE(std::filesystem::exists(stem + "-PART4.AVI"));
    }
}

TEST_F(AviTest, AskedCodecBeforeEveryPartAndCancel) {
    CodecFourCC = CodecAsk;
    AviPartLimitBytes = 10;  // every frame after the first of a part opens a new part
    std::vector<std::string> asked;
    bool cancelSecond = false;
    SetAviCodecChooser(
        [&](const std::vector<AviCodec>& offered, const std::string& part, int32_t& fourcc) {
            asked.push_back(part);
            if (cancelSecond && asked.size() == 2) return false;
            EXPECT_FALSE(offered.empty());
            for (const AviCodec& c : offered) EXPECT_TRUE(c.Grey) << c.Name;
            fourcc = asked.size() == 1 ? 0 : PackFourCC('M', 'J', 'P', 'G');
            return true;
        });
    ASSERT_EQ(AviOpen(dir_ / "ask.AVI", 16, 16, 0), WriterAvi);
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(AviWriteFrame(GreyFrame(16, 16, k)));
    ASSERT_TRUE(AviClose());
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[2], dir_ / "ask-PART3.AVI");

    // Cancel at a later part: that frame and the following ones are refused, not asked again.
    asked.clear();
    cancelSecond = true;
    ASSERT_EQ(AviOpen(dir_ / "cancel.AVI", 16, 16, 0), WriterAvi);
    ASSERT_TRUE(AviWriteFrame(GreyFrame(16, 16, 0)));
    EXPECT_FALSE(AviWriteFrame(GreyFrame(16, 16, 1)));
    EXPECT_NE(LastWriterError().find("cancel-PART2.AVI"), std::string::npos) << LastWriterError();
    EXPECT_FALSE(AviWriteFrame(GreyFrame(16, 16, 2)));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(AviClose());
    std::string errors;
    const auto decoded =
        DecodeAll({dir_ / "ask-PART2.AVI", dir_ / "ask-PART3.AVI", dir_ / "cancel-PART1.AVI"},
                  dir_.path(), errors);
    EXPECT_EQ(errors, "");
    for (const Decoded& d : decoded) EXPECT_EQ(d.frames, 1);

    // Cancel at the first part: the open fails and creates nothing.
    SetAviCodecChooser(
        [](const std::vector<AviCodec>&, const std::string&, int32_t&) { return false; });
    EXPECT_EQ(AviOpen(dir_ / "none.AVI", 16, 16, 0), WriterNone);
    EXPECT_FALSE(AviIsOpen());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "none-PART1.AVI"));
    SetAviCodecChooser(nullptr);
    EXPECT_EQ(AviOpen(dir_ / "none.AVI", 16, 16, 0), WriterNone);
}

TEST_F(AviTest, OpenFailuresNameTheFile) {
    std::ofstream(dir_ / "plain") << "x";
    for (const std::string& path : {dir_ / "missing/a.AVI", dir_ / "plain/a.AVI"}) {
        SetWriterError("");
        EXPECT_EQ(AviOpen(path, 64, 48, 0), WriterNone);
        EXPECT_NE(LastWriterError().find(path.substr(0, path.size() - 4) + "-PART1.AVI"),
                  std::string::npos)
            << LastWriterError();
        EXPECT_FALSE(AviIsOpen());
        EXPECT_EQ(AviPartNumber, 1);
    }
    EXPECT_FALSE(AviWriteFrame(GreyFrame(64, 48, 0)));  // nothing open
}

TEST_F(AviTest, EmptyRecordingLeavesOnlyPartOne) {
    ASSERT_EQ(AviOpen(dir_ / "empty.AVI", 64, 48, 1), WriterAvi);
    ASSERT_TRUE(AviClose());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "empty-PART1.AVI"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "empty.AVI"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "empty-PART2.AVI"));
}

TEST_F(AviTest, WriteFailuresAreReported) {
    // Frames of another size or kind are refused and not counted.
    ASSERT_EQ(AviOpen(dir_ / "kind.AVI", 64, 48, 0), WriterAvi);
    EXPECT_FALSE(AviWriteFrame(GreyFrame(32, 48, 0)));
    EXPECT_FALSE(AviWriteFrame(cv::Mat(48, 64, CV_16UC1, cv::Scalar(1))));
    EXPECT_EQ(AviPartBytes, 0);
    ASSERT_TRUE(AviClose()) << LastWriterError();

    // A full device: the library accepts the frames, the finished part cannot be read back.
    const std::string full = dir_ / "full-PART1.AVI";
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    CodecFourCC = 0;
    ASSERT_EQ(AviOpen(dir_ / "full.AVI", 64, 48, 0), WriterAvi);
    for (int k = 0; k < 3; ++k) AviWriteFrame(GreyFrame(64, 48, k));
    EXPECT_FALSE(AviClose());
    EXPECT_NE(LastWriterError().find(full), std::string::npos) << LastWriterError();

    // The next part cannot be created (a folder holds its name): the frame that needed it is
    // refused; once the name is free, the same part number is created.
    const std::string blocked = dir_ / "m-PART2.AVI";
    std::filesystem::create_directory(blocked);
    AviPartLimitBytes = 10;
    ASSERT_EQ(AviOpen(dir_ / "m.AVI", 16, 16, 0), WriterAvi);
    ASSERT_TRUE(AviWriteFrame(GreyFrame(16, 16, 0)));
    EXPECT_FALSE(AviWriteFrame(GreyFrame(16, 16, 1)));
    EXPECT_NE(LastWriterError().find(blocked), std::string::npos) << LastWriterError();
    std::filesystem::remove(blocked);
    ASSERT_TRUE(AviWriteFrame(GreyFrame(16, 16, 2)));
    EXPECT_EQ(AviPartNumber, 3);
    ASSERT_TRUE(AviClose()) << LastWriterError();
    std::string errors;
    const auto decoded = DecodeAll({dir_ / "m-PART1.AVI", blocked}, dir_.path(), errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(decoded[0].frames, 1);
    EXPECT_EQ(decoded[1].frames, 1);
}
