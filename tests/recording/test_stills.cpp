#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "RecTestUtil.h"
#include "recording/FitsFormat.h"
#include "recording/StillSeriesWriter.h"

using namespace rectest;

namespace {
std::string card(const std::string& header, int index) {
    return header.substr(index * 80, 80);
}
}  // namespace

TEST(FitsCards, ValueAndTextCardsToTheColumn) {
    std::string h;
    fitsValueCard(h, "SIMPLE", "T");
    EXPECT_EQ(h, "SIMPLE  =" + std::string(20, ' ') + "T" + std::string(50, ' '));
    h.clear();
    fitsValueCard(h, "NAXIS1", "640");
    EXPECT_EQ(h.substr(0, 30), "NAXIS1  =                  640");
    EXPECT_EQ(h.size(), 80u);

    h.clear();
    fitsTextCard(h, "TIMESTAMP", "");
    EXPECT_EQ(h, "TIMESTAMP=" + std::string(70, ' '));
    h.clear();
    const std::string longText(80, 'x');
    fitsTextCard(h, "TIMESTAMP", longText);
    EXPECT_EQ(h, "TIMESTAMP= " + std::string(69, 'x'));
    h.clear();
    fitsTextCard(h, "END", "");
    EXPECT_EQ(h, "END" + std::string(77, ' '));
    h.clear();
    fitsBlankCards(h, 27);
    EXPECT_EQ(h, std::string(27 * 80, ' '));
}

TEST(FitsCards, HeaderBlockOfAFrame) {
    FramePtr f(makeFrame(640, 480, 16, "2024-03-10 21:15:30"));
    const std::string h = fitsHeader(*f);
    ASSERT_EQ(h.size(), 2880u);
    EXPECT_EQ(card(h, 1).substr(0, 30), "BITPIX  =                   16");
    EXPECT_EQ(card(h, 4).substr(0, 30), "NAXIS2  =                  480");
    EXPECT_EQ(card(h, 5).substr(0, 30), "BZERO   =                32768");
    EXPECT_EQ(card(h, 6).substr(0, 30), "BSCALE  =                  1.0");
    EXPECT_EQ(card(h, 7).substr(0, 30), "TIMESTAMP= 2024-03-10 21:15:30");
    EXPECT_EQ(card(h, 8), "ROWORDER= 'TOP-DOWN'" + std::string(60, ' '));
    EXPECT_EQ(card(h, 9).substr(0, 4), "END ");
    EXPECT_EQ(h.substr(10 * 80), std::string(26 * 80, ' '));
    // Header text stays printable ASCII whatever the overlay text holds.
    FramePtr g(makeFrame(4, 4, 8,
                         "T=\xc2\xb0"
                         "C\t"));
    EXPECT_EQ(card(fitsHeader(*g), 7).substr(0, 17), "TIMESTAMP= T=??C?");
}

TEST(FitsCards, Swap16GivesSignedBigEndian) {
    uint16_t v[4] = {0, 32768, 65535, 0x1234};
    fitsSwap16(v, 4);
    const auto* b = reinterpret_cast<const uint8_t*>(v);
    const uint8_t expect[8] = {0x80, 0x00, 0x00, 0x00, 0x7f, 0xff, 0x92, 0x34};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(b[i], expect[i]) << i;
}

class FitsFiles : public ::testing::Test {
  protected:
    // A still of the series under `stillPath` (the path of the running series decides
    // where the numbering continues).
    bool fits(const Frame& frame, const std::string& stillPath, std::string* written) {
        stills_.begin(stillPath);
        return stills_.writeFits(frame, written);
    }
    bool bmp(const cv::Mat& image, const std::string& stillPath, std::string* written) {
        stills_.begin(stillPath);
        return stills_.writeBmp(image, written);
    }
    TempDir dir_;
    StillSeriesWriter stills_;
};

TEST_F(FitsFiles, LayoutSizesAndPaddingOfRows) {
    FramePtr big(makeFrame(640, 480));
    std::string name;
    ASSERT_TRUE(fits(*big, dir_ / "moon.FIT", &name));
    EXPECT_EQ(name, dir_ / "moon_00000.FIT");
    EXPECT_EQ(std::filesystem::file_size(name), 311040u);

    // Width 10: buffer rows of 12 bytes, stored as 10.
    FramePtr odd(makeFrame(10, 3));
    ASSERT_TRUE(fits(*odd, dir_ / "moon.FIT", &name));
    EXPECT_EQ(name, dir_ / "moon_00001.FIT");
    const auto b = readAll(name);
    ASSERT_EQ(b.size(), 5760u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(b[2880 + y * 10 + x], sample(x, y, 8));
    for (size_t i = 2880 + 30; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << i;

    // The 16-bit frame is converted on the way out; its own buffer keeps the camera's values.
    FramePtr deep(makeFrame(5, 3, 16));
    ASSERT_TRUE(fits(*deep, dir_ / "moon.FIT", &name));
    EXPECT_EQ(reinterpret_cast<const uint16_t*>(frameData(deep.get()))[1], sample(1, 0, 16));
}

// Mono and mosaic files alike keep TIMESTAMP as their eighth card, where readers of the
// original eight-card layout take it; the cards after it are read by name.
TEST_F(FitsFiles, IndependentReadersAgree) {
    struct Case {
        int w, h, depth;
        std::string stamp;
        ColorPattern pattern = ColorPattern::Mono;
    };
    const Case cases[] = {{640, 480, 8, "2024-03-10 21:15:30.250 Moon"},
                          {10, 3, 8, ""},
                          {5, 3, 16, std::string(80, 'z')},
                          {8, 6, 8, "21:15:30 Mars", ColorPattern::RGGB},
                          {6, 4, 16, "", ColorPattern::GBRG}};
    std::string script =
        "import sys, numpy as np\nfrom astropy.io import fits\nok = True\n"
        "def check(path, w, h, depth, stamp, pattern):\n"
        "    global ok\n"
        "    with fits.open(path) as f:\n"
        "        hd = f[0].header; d = f[0].data\n"
        "        y, x = np.mgrid[0:h, 0:w]\n"
        "        v = x * 7 + y * 13\n"
        "        want = (v * 257 + 1) % 65536 if depth == 16 else v % 256\n"
        "        card = [c for c in hd.cards if c.image.startswith('TIMESTAM')][0].image\n"
        "        good = (hd['BITPIX'] == depth and hd['NAXIS1'] == w and hd['NAXIS2'] == h and\n"
        "                d.shape == (h, w) and np.array_equal(d.astype(np.int64), want) and\n"
        "                card.rstrip() == ('TIMESTAMP= ' + stamp)[:80].rstrip() and\n"
        "                hd['ROWORDER'] == 'TOP-DOWN' and\n"
        "                hd.get('BAYERPAT', '').strip() == pattern)\n"
        "        if not good: print('MISMATCH', path, hd['BITPIX'], d.shape, card); ok = False\n";
    for (const Case& c : cases) {
        FramePtr f(makeFrame(c.w, c.h, c.depth, c.stamp));
        f->pattern = c.pattern;
        std::string name;
        ASSERT_TRUE(fits(*f, dir_ / "check.FIT", &name));
        const auto bytes = readAll(name);
        ASSERT_GE(bytes.size(), 2880u);
        const std::string eighth(bytes.begin() + 7 * 80, bytes.begin() + 8 * 80);
        EXPECT_EQ(eighth, ("TIMESTAMP= " + c.stamp + std::string(80, ' ')).substr(0, 80)) << name;
        std::string out;
        runCommand("fitsverify " + quote(name), out);
        EXPECT_NE(out.find("0 error(s)"), std::string::npos) << name << "\n" << out;
        script += "check('" + name + "', " + std::to_string(c.w) + ", " + std::to_string(c.h) +
                  ", " + std::to_string(c.depth) + ", '" + c.stamp + "', '" +
                  patternName(c.pattern) + "')\n";
    }
    script += "print('ALL OK' if ok else 'FAILED')\n";
    const std::string py = dir_ / "check.py";
    std::ofstream(py) << script;
    std::string out;
    EXPECT_EQ(runCommand("/usr/bin/python3 " + quote(py), out), 0) << out;
    EXPECT_NE(out.find("ALL OK"), std::string::npos) << out;
}

TEST_F(FitsFiles, FailedWritesAreReportedAndLeaveNoFile) {
    FramePtr f(makeFrame(64, 64));
    const std::string full = dir_ / "full.FIT";
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    std::string error;
    EXPECT_FALSE(writeFitsFile(full, *f, error));
    EXPECT_NE(error.find(full), std::string::npos) << error;
    // The name was taken: the link is left as it was, and nothing else is in the folder.
    EXPECT_EQ(std::filesystem::read_symlink(full), "/dev/full");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                            std::filesystem::directory_iterator()),
              1);

    std::ofstream(dir_ / "plain") << "x";
    std::string name;
    EXPECT_FALSE(fits(*f, dir_ / "plain/moon.FIT", &name));
    EXPECT_NE(stills_.error().find(name), std::string::npos) << stills_.error();
    EXPECT_FALSE(fits(*f, dir_ / "missing/moon.FIT", &name));

    {
        FileSizeLimit limit(4000);  // the header fits, the data does not
        EXPECT_FALSE(fits(*f, dir_ / "moon.FIT", &name));
    }
    EXPECT_FALSE(std::filesystem::exists(name));
    // The name that failed is handed out again for the next frame.
    std::string again;
    ASSERT_TRUE(fits(*f, dir_ / "moon.FIT", &again));
    EXPECT_EQ(again, name);
}

TEST_F(FitsFiles, BmpGreyAndColour) {
    FramePtr f(makeFrame(10, 3));
    std::string grey, colour;
    ASSERT_TRUE(bmp(f->rawImage, dir_ / "moon.BMP", &grey));
    cv::Mat bgr(5, 7, CV_8UC3);
    cv::randu(bgr, 0, 255);
    ASSERT_TRUE(bmp(bgr, dir_ / "moon.BMP", &colour));
    EXPECT_EQ(grey, dir_ / "moon_00000.BMP");
    EXPECT_EQ(colour, dir_ / "moon_00001.BMP");

    const auto gb = readAll(grey), cb = readAll(colour);
    ASSERT_GT(gb.size(), 30u);
    ASSERT_GT(cb.size(), 30u);
    EXPECT_EQ(gb[0], 'B');
    EXPECT_EQ(gb[1], 'M');
    EXPECT_EQ(gb[28], 8);  // bits per pixel
    EXPECT_EQ(cb[28], 24);
    const cv::Mat g = cv::imread(grey, cv::IMREAD_UNCHANGED),
                  c = cv::imread(colour, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(g.channels(), 1);
    EXPECT_EQ(cv::norm(g, f->rawImage, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(c, bgr, cv::NORM_INF), 0.0);
}

TEST_F(FitsFiles, BmpWriteFailuresAreReported) {
    cv::Mat img(100, 100, CV_8UC1, cv::Scalar(9));
    std::string name;
    {
        FileSizeLimit limit(2000);
        EXPECT_FALSE(bmp(img, dir_ / "moon.BMP", &name));
    }
    EXPECT_NE(stills_.error().find(name), std::string::npos) << stills_.error();
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_FALSE(bmp(img, dir_ / "missing/moon.BMP", &name));
    EXPECT_FALSE(bmp(cv::Mat(), dir_ / "moon.BMP", &name));
}
