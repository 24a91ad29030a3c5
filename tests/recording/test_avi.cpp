#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "RecTestUtil.h"
#include "recording/AviWriter.h"

using namespace rectest;

namespace {
const int32_t kStartCodec = AviWriter().codec();

struct Decoded {
    int frames = 0;
    std::string dimensions, timeBase;
};

// Decodes several files in one ffmpeg run (one process start instead of one per file).
// `errors` receives the decoder's complaints; they name the input stream "#<index>:".
std::vector<Decoded> decodeAll(const std::vector<std::string>& files, const std::string& scratch,
                               std::string& errors) {
    std::string cmd = "ffmpeg -v error -nostdin -y";
    for (const auto& f : files) cmd += " -i " + quote(f);
    for (size_t i = 0; i < files.size(); ++i)
        cmd += " -map " + std::to_string(i) + ":v -f framecrc " +
               quote(scratch + "/crc" + std::to_string(i) + ".txt");
    runCommand(cmd, errors);
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
std::vector<uint8_t> decodeGrey(const std::string& path) {
    const std::string raw = path + ".gray";
    std::string out;
    runCommand("ffmpeg -v error -y -i " + quote(path) + " -f rawvideo -pix_fmt gray " + quote(raw),
               out);
    auto bytes = readAll(raw);
    std::remove(raw.c_str());
    return bytes;
}

cv::Mat greyFrame(int w, int h, int k) {
    cv::Mat m(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m.at<uint8_t>(y, x) = static_cast<uint8_t>(x * 3 + y * 5 + k * 40);
    return m;
}

cv::Mat colourFrame(int w, int h) {
    cv::Mat m(h, w, CV_8UC3, cv::Scalar(200, 40, 10));
    m.rowRange(h / 2, h).setTo(cv::Scalar(10, 40, 200));
    return m;
}

class AviTest : public ::testing::Test {
  protected:
    TempDir dir_;
    AviWriter avi_;
};
}  // namespace

TEST(AviNames, FourCCAndPartNames) {
    EXPECT_EQ(kStartCodec, 0x56555949);  // I, Y, U, V with I in the lowest byte
    EXPECT_EQ(packFourCc('M', 'J', 'P', 'G'), 'M' + 'J' * 256 + 'P' * 65536 + 'G' * 16777216);
    EXPECT_EQ(packFourCc('\xff', '\xff', '\xff', '\xff'), kCodecAsk);
    EXPECT_EQ(kAviPartLimitMiB * 1024 * 1024, 4194304000LL);

    EXPECT_EQ(aviPartName("/obs/moon_00003.AVI", 1), "/obs/moon_00003-PART1.AVI");
    EXPECT_EQ(aviPartName("/obs/moon_00003.AVI", 12), "/obs/moon_00003-PART12.AVI");
}

TEST_F(AviTest, EveryOfferedCodecWritesGreyAndColourThatDecodes) {
    const auto codecs = availableCodecs();
    auto has = [&](int32_t fourcc, bool colour) {
        for (const AviCodec& c : codecs)
            if (c.fourCc == fourcc) return colour ? c.colour : c.grey;
        return false;
    };
    ASSERT_TRUE(has(0, false) && has(0, true));
    ASSERT_TRUE(has(kStartCodec, false) && has(kStartCodec, true));

    std::vector<std::string> files, labels;
    for (const AviCodec& c : codecs) {
        for (int colour = 0; colour < 2; ++colour) {
            if (!(colour ? c.colour : c.grey)) continue;
            avi_.setCodec(c.fourCc);
            const std::string label = c.name + (colour ? " colour" : " grey");
            const std::string path = dir_ / ("c" + std::to_string(files.size()) + ".AVI");
            ASSERT_TRUE(avi_.open(path, 64, 48, colour != 0)) << label << " " << avi_.error();
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(avi_.writeFrame(colour ? colourFrame(64, 48) : greyFrame(64, 48, k)))
                    << label;
            ASSERT_TRUE(avi_.close()) << label << " " << avi_.error();
            files.push_back(path.substr(0, path.size() - 4) + "-PART1.AVI");
            labels.push_back(label);
        }
    }
    std::string errors;
    const auto decoded = decodeAll(files, dir_.path(), errors);
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
        const Probe p = ffProbe(files[i]);
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
            avi_.setCodec(codec);
            const std::string path =
                dir_ / ("g" + std::to_string(codec) + "_" + std::to_string(width) + ".AVI");
            ASSERT_TRUE(avi_.open(path, width, 30, false));
            FramePtr frame(makeFrame(width, 30));
            ASSERT_TRUE(avi_.writeFrame(frame->rawImage));
            ASSERT_TRUE(avi_.writeFrame(frame->rawImage));
            ASSERT_TRUE(avi_.close());
            const auto got = decodeGrey(path.substr(0, path.size() - 4) + "-PART1.AVI");
            ASSERT_EQ(got.size(), 2u * width * 30) << codec << " " << width;
            int worst = 0;
            for (int k = 0; k < 2; ++k)
                for (int y = 0; y < 30; ++y)
                    for (int x = 0; x < width; ++x)
                        worst = std::max(worst,
                                         std::abs(got[(k * 30 + y) * width + x] - sample(x, y, 8)));
            EXPECT_LE(worst, codec ? 2 : 0) << codec << " " << width;
        }
    }
}

TEST_F(AviTest, PartsSplitByTheBytesStoredInTheFile) {
    // Raw grey frames of 300 KiB; the limit counts what the file holds, not what was handed
    // over (for a colour-stored grey recording three times as much).
    avi_.setCodec(0);
    const int64_t limit = 3 << 20;
    avi_.setPartLimitBytes(limit);
    const std::string path = dir_ / "moon.AVI";
    ASSERT_TRUE(avi_.open(path, 640, 480, false));
    // A codec chosen meanwhile is for the next recording: every part of this one stays raw.
    avi_.setCodec(packFourCc('I', 'Y', 'U', 'V'));
    const int total = 24;
    for (int k = 0; k < total; ++k) ASSERT_TRUE(avi_.writeFrame(greyFrame(640, 480, k)));
    const int parts = avi_.partNumber() - 1;
    ASSERT_TRUE(avi_.close());
    std::vector<std::string> names;
    for (int part = 1; part <= parts; ++part) names.push_back(aviPartName(path, part));
    EXPECT_FALSE(std::filesystem::exists(aviPartName(path, parts + 1)));
    std::string errors;
    const auto decoded = decodeAll(names, dir_.path(), errors);
    EXPECT_EQ(errors, "");
    int frames = 0;
    for (int i = 0; i < parts; ++i) {
        frames += decoded[i].frames;
        const auto size = static_cast<int64_t>(std::filesystem::file_size(names[i]));
        const int64_t perFrame = size / decoded[i].frames;
        // Within the limit (the index at the end aside), and nearly full: the writer keeps
        // room for what the library buffers (256 KiB), and no more.
        EXPECT_LE(size, limit + 16 * decoded[i].frames + 1024) << names[i];
        if (i + 1 < parts) {
            EXPECT_GT(size + (256 << 10) + 2 * perFrame, limit) << names[i];
        }
        EXPECT_EQ(decoded[i].dimensions, "640x480");
        EXPECT_LT(perFrame, 640 * 480 + 1024) << names[i];  // raw grey, not IYUV's 1.5 bytes
    }
    EXPECT_EQ(frames, total);
}

TEST_F(AviTest, AskedCodecBeforeEveryPartAndCancel) {
    avi_.setCodec(kCodecAsk);
    avi_.setPartLimitBytes(10);  // every frame after the first of a part opens a new part
    std::vector<std::string> asked;
    bool cancelSecond = false;
    avi_.setCodecChooser(
        [&](const std::vector<AviCodec>& offered, const std::string& part, int32_t& fourcc) {
            asked.push_back(part);
            if (cancelSecond && asked.size() == 2) return false;
            EXPECT_FALSE(offered.empty());
            for (const AviCodec& c : offered) EXPECT_TRUE(c.grey) << c.name;
            fourcc = asked.size() == 1 ? 0 : packFourCc('M', 'J', 'P', 'G');
            return true;
        });
    ASSERT_TRUE(avi_.open(dir_ / "ask.AVI", 16, 16, false));
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(avi_.writeFrame(greyFrame(16, 16, k)));
    ASSERT_TRUE(avi_.close());
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[2], dir_ / "ask-PART3.AVI");

    // Cancel at a later part: that frame and the following ones are refused, not asked again.
    asked.clear();
    cancelSecond = true;
    ASSERT_TRUE(avi_.open(dir_ / "cancel.AVI", 16, 16, false));
    ASSERT_TRUE(avi_.writeFrame(greyFrame(16, 16, 0)));
    EXPECT_FALSE(avi_.writeFrame(greyFrame(16, 16, 1)));
    EXPECT_NE(avi_.error().find("cancel-PART2.AVI"), std::string::npos) << avi_.error();
    EXPECT_FALSE(avi_.writeFrame(greyFrame(16, 16, 2)));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(avi_.close());
    std::string errors;
    const auto decoded =
        decodeAll({dir_ / "ask-PART2.AVI", dir_ / "ask-PART3.AVI", dir_ / "cancel-PART1.AVI"},
                  dir_.path(), errors);
    EXPECT_EQ(errors, "");
    for (const Decoded& d : decoded) EXPECT_EQ(d.frames, 1);

    // Cancel at the first part: the open fails and creates nothing.
    avi_.setCodecChooser(
        [](const std::vector<AviCodec>&, const std::string&, int32_t&) { return false; });
    EXPECT_FALSE(avi_.open(dir_ / "none.AVI", 16, 16, false));
    EXPECT_FALSE(avi_.isOpen());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "none-PART1.AVI"));
    avi_.setCodecChooser(nullptr);
    EXPECT_FALSE(avi_.open(dir_ / "none.AVI", 16, 16, false));
}

TEST_F(AviTest, OpenFailuresNameTheFile) {
    std::ofstream(dir_ / "plain") << "x";
    for (const std::string& path : {dir_ / "missing/a.AVI", dir_ / "plain/a.AVI"}) {
        AviWriter avi;
        EXPECT_FALSE(avi.open(path, 64, 48, false));
        EXPECT_NE(avi.error().find(path.substr(0, path.size() - 4) + "-PART1.AVI"),
                  std::string::npos)
            << avi.error();
        EXPECT_FALSE(avi.isOpen());
        EXPECT_EQ(avi.partNumber(), 1);
    }
    EXPECT_FALSE(avi_.writeFrame(greyFrame(64, 48, 0)));  // nothing open
}

TEST_F(AviTest, EmptyRecordingLeavesOnlyPartOne) {
    ASSERT_TRUE(avi_.open(dir_ / "empty.AVI", 64, 48, true));
    ASSERT_TRUE(avi_.close());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "empty-PART1.AVI"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "empty.AVI"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "empty-PART2.AVI"));
}

TEST_F(AviTest, WriteFailuresAreReported) {
    // Frames of another size or kind are refused and not counted.
    ASSERT_TRUE(avi_.open(dir_ / "kind.AVI", 64, 48, false));
    EXPECT_FALSE(avi_.writeFrame(greyFrame(32, 48, 0)));
    EXPECT_FALSE(avi_.writeFrame(cv::Mat(48, 64, CV_16UC1, cv::Scalar(1))));
    EXPECT_EQ(avi_.partBytes(), 0);
    ASSERT_TRUE(avi_.close()) << avi_.error();

    // A part's name taken by a link (here to a full device): the part is not created and the
    // link is left as it was.
    const std::string full = dir_ / "full-PART1.AVI";
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    avi_.setCodec(0);
    EXPECT_FALSE(avi_.open(dir_ / "full.AVI", 64, 48, false));
    EXPECT_NE(avi_.error().find(full), std::string::npos) << avi_.error();
    EXPECT_EQ(std::filesystem::read_symlink(full), "/dev/full");

    // The next part cannot be created (a folder holds its name): the frame that needed it is
    // refused; once the name is free, the same part number is created.
    const std::string blocked = dir_ / "m-PART2.AVI";
    std::filesystem::create_directory(blocked);
    avi_.setPartLimitBytes(10);
    ASSERT_TRUE(avi_.open(dir_ / "m.AVI", 16, 16, false));
    ASSERT_TRUE(avi_.writeFrame(greyFrame(16, 16, 0)));
    EXPECT_FALSE(avi_.writeFrame(greyFrame(16, 16, 1)));
    EXPECT_NE(avi_.error().find(blocked), std::string::npos) << avi_.error();
    std::filesystem::remove(blocked);
    ASSERT_TRUE(avi_.writeFrame(greyFrame(16, 16, 2)));
    EXPECT_EQ(avi_.partNumber(), 3);
    ASSERT_TRUE(avi_.close()) << avi_.error();
    std::string errors;
    const auto decoded = decodeAll({dir_ / "m-PART1.AVI", blocked}, dir_.path(), errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(decoded[0].frames, 1);
    EXPECT_EQ(decoded[1].frames, 1);
}
