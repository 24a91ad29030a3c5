// What a recording says about itself: session details in the SER header and FITS cards
// (read back byte by byte, by fitsverify and by astropy), the capture log parsed back, and
// observation names of recordings whose times are known in advance.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "CaptureLogReader.h"
#include "RecTestUtil.h"
#include "platform/DateTime.h"
#include "recording/FileNames.h"
#include "recording/RecordingController.h"
#include "recording/RecoveryJournal.h"
#include "recording/SessionRecord.h"

using namespace rectest;

namespace {
constexpr int kW = 32, kH = 24;
constexpr int32_t kOffset = 3600;  // local time is UTC + 1 h

LocalDateTime local(int h, int m, double s) {
    DateTimeParts p{2026,
                    12,
                    9,
                    h,
                    m,
                    static_cast<int>(s),
                    static_cast<int>((s - static_cast<int>(s)) * 1000 + 0.5)};
    return encodeDateTime(p);
}

std::string field40(const std::vector<uint8_t>& b, size_t at) {
    return std::string(b.begin() + at, b.begin() + at + 40);
}

class SessionRecordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testclock::setNow([] { return local(22, 33, 0); }, [] { return kOffset; });
        facts_.program = "TarviVideo5X 9.9";
        facts_.camera = "SimCam 2000";
        facts_.exposureMs = 100;
        facts_.gain = 12;
        facts_.session.target = "Jupiter";
        facts_.session.observer = "Åsa O'Neil";  // non-ASCII and a quote
        facts_.session.latitude = 48.5;
        facts_.session.longitude = -2.25;
        facts_.filter = "R";
        facts_.utcOffsetSeconds = kOffset;
        facts_.startLocal = local(22, 32, 19);
        exp_.setWriteLog(true);
        exp_.setObservationNames(true);
    }
    void TearDown() override {
        exp_.close();
        testclock::setNow(nullptr);
    }
    // Frames exposed one second apart from 22:32:20.0004567 local (21:32:20.0004567 UTC),
    // which the cards and the log give to the nearest microsecond.
    void record(int frames) {
        for (int i = 0; i < frames; ++i) {
            FramePtr f = makeFrame(kW, kH);
            f->timeStamp =
                PreciseDateTime::fromTicks(PreciseDateTime(local(22, 32, 20 + i)).ticks() + 4567);
            exp_.recordFrame(std::move(f));
            if (i == 0) {
                // The first frame is written with the gain of the start, the rest with this.
                exp_.waitForWriter();
                exp_.noteSettingChange("Gain", "15");
            }
        }
        exp_.waitForWriter();
        ASSERT_TRUE(exp_.close()) << exp_.lastError();
    }

    RecordingFacts facts_;
    TempDir dir_;
    RecordingController exp_;
};
}  // namespace

TEST_F(SessionRecordTest, SerTakesItsObservationNameHeaderTextsAndLog) {
    facts_.session.telescope = "";  // not set: the fixed word stays
    exp_.setFacts(facts_);
    const std::string provisional = dir_ / "2026-12-09-2132_3-Jupiter-R-unfinished.ser";
    ASSERT_TRUE(
        exp_.startRecording(CaptureFormat::Ser, provisional, kW, kH, false, 8, {0, false}, false));
    record(11);
    // First exposure starts 21:32:20.0, the last ends 21:32:30.1: the middle is 21:32:25.05.
    const std::string name = dir_ / "2026-12-09-2132_4-Jupiter-R.ser";
    EXPECT_EQ(exp_.lastFile(), name);
    EXPECT_FALSE(std::filesystem::exists(provisional));
    EXPECT_FALSE(std::filesystem::exists(serStampsPath(provisional)));

    const auto b = readAll(name);
    ASSERT_EQ(b.size(), 178u + 11u * kW * kH + 11u * 8u);
    EXPECT_EQ(field40(b, 42), "?sa O'Neil" + std::string(30, ' '));
    EXPECT_EQ(field40(b, 82), "SimCam 2000, filter R" + std::string(19, ' '));
    EXPECT_EQ(field40(b, 122), "TELESCOPE" + std::string(31, '_'));

    bool wellFormed = false;
    const auto log = parseLog(dir_ / "2026-12-09-2132_4-Jupiter-R.ser.txt", &wellFormed);
    EXPECT_TRUE(wellFormed);
    auto one = [&](const std::string& key) {
        EXPECT_EQ(log.count(key), 1u) << key;
        const auto it = log.find(key);
        return it == log.end() ? std::string() : it->second;
    };
    EXPECT_EQ(one("File"), name);
    EXPECT_EQ(one("Files"), "1");
    EXPECT_EQ(one("Recording start (UTC)"), "2026-12-09T21:33:00.000000Z");
    EXPECT_EQ(one("Frames"), "11");
    EXPECT_EQ(one("Start (UTC)"), "2026-12-09T21:32:20.000457Z");
    EXPECT_EQ(one("Middle (UTC)"), "2026-12-09T21:32:25.050457Z");
    EXPECT_EQ(one("End (UTC)"), "2026-12-09T21:32:30.100457Z");
    EXPECT_EQ(one("Exposure"), "100.000 ms");
    EXPECT_EQ(one("Target"), "Jupiter");
    EXPECT_EQ(one("Filter"), "R");
    EXPECT_EQ(one("Site latitude"), "48.50000");
    EXPECT_EQ(one("Gaps"), "0");
    EXPECT_EQ(one("Change"), "2026-12-09T21:33:00.000000Z Gain = 15");
}

TEST_F(SessionRecordTest, NameTakenAlreadyIsNumberedAndNumberedNamesStay) {
    exp_.setFacts(facts_);
    std::ofstream(dir_ / "2026-12-09-2132_4-Jupiter-R.ser") << "earlier";
    std::ofstream(dir_ / "2026-12-09-2132_4-Jupiter-R_1.ser.txt") << "a log left behind";
    ASSERT_TRUE(exp_.startRecording(CaptureFormat::Ser, dir_ / "p-unfinished.ser", kW, kH, false, 8,
                                    {0, false}, false));
    record(11);
    EXPECT_EQ(exp_.lastFile(), dir_ / "2026-12-09-2132_4-Jupiter-R_1.ser");
    EXPECT_EQ(exp_.lastLogPath(), dir_ / "2026-12-09-2132_4-Jupiter-R_1.ser-1.txt");

    // Numbered names: the recording keeps its name, the log goes beside it.
    exp_.setObservationNames(false);
    ASSERT_TRUE(exp_.startRecording(CaptureFormat::Ser, dir_ / "moon_00000.SER", kW, kH, false, 8,
                                    {0, false}, false));
    record(2);
    EXPECT_EQ(exp_.lastFile(), dir_ / "moon_00000.SER");
    EXPECT_EQ(exp_.lastLogPath(), dir_ / "moon_00000.SER.txt");
}

TEST_F(SessionRecordTest, FitsSeriesCardsPassFitsverifyAndAstropy) {
    facts_.session.target = "Comet C/2026 'A1'";
    facts_.session.telescope = "C11";
    facts_.pixelWidthUm = facts_.pixelHeightUm = 2.9;
    facts_.cameraGain = 150;
    exp_.setFacts(facts_);
    ASSERT_TRUE(exp_.startStillSeries(CaptureFormat::Fit, dir_ / "moon.FIT", {0, false}, false));
    record(2);
    // Each frame named after its own time; the second shares the first's tenth of a minute.
    const std::string first = dir_ / "2026-12-09-2132_3-Comet_C_2026__A1_-R_1.fit";
    const std::string second = dir_ / "2026-12-09-2132_3-Comet_C_2026__A1_-R_2.fit";
    ASSERT_TRUE(std::filesystem::exists(first));
    ASSERT_TRUE(std::filesystem::exists(second));
    EXPECT_EQ(exp_.lastLogPath(), first + ".txt");
    bool wellFormed = false;
    const auto log = parseLog(first + ".txt", &wellFormed);
    EXPECT_EQ(log.find("Gain")->second, "12 (150 in the camera's units)");
    EXPECT_EQ(log.find("Pixel size")->second, "2.9 x 2.9 µm");

    for (const std::string& f : {first, second}) {
        std::string out;
        runCommand("fitsverify " + quote(f), out);
        EXPECT_NE(out.find("0 warning(s) and 0 error(s)"), std::string::npos) << out;
    }
    const std::string py = dir_ / "cards.py";
    std::ofstream(py)
        << "import sys\nfrom astropy.io import fits\n"
           "h = fits.getheader(sys.argv[1])\n"
           "for k in ['OBJECT','OBSERVER','TELESCOP','INSTRUME','FILTER','DATE-OBS',"
           "'DATE-END','SITELAT','SITELONG','EXPTIME','GAIN','XBINNING','YBINNING','XPIXSZ',"
           "'YPIXSZ']:\n"
           "    print(k + '|' + repr(h[k]))\n"
           "print('CCD-TEMP' in h)\n";
    std::string out;
    // -W ignore: astropy warns of the TIMESTAMP card, whose nine-letter keyword is the
    // program's own unchanged convention; every card asked for must still be read.
    ASSERT_EQ(runCommand("/usr/bin/python3 -W ignore " + quote(py) + " " + quote(second), out), 0)
        << out;
    EXPECT_EQ(out,
              "OBJECT|\"Comet C/2026 'A1'\"\nOBSERVER|\"?sa O'Neil\"\nTELESCOP|'C11'\n"
              "INSTRUME|'SimCam 2000'\nFILTER|'R'\nDATE-OBS|'2026-12-09T21:32:21.000457'\n"
              "DATE-END|'2026-12-09T21:32:21.100457'\n"
              "SITELAT|48.5\nSITELONG|-2.25\nEXPTIME|0.1\nGAIN|15\nXBINNING|1\nYBINNING|1\n"
              "XPIXSZ|2.9\nYPIXSZ|2.9\nFalse\n");
}

// A numbered series logs beside its first file (apart from a SER of the same number), lists
// every file, and gives the summary's duration and rate beside the frames' own rate.
TEST_F(SessionRecordTest, SeriesLogListsItsFilesAndTheSummaryFigures) {
    exp_.setFacts(facts_);
    exp_.setObservationNames(false);
    double duration = 0.0, rate = 0.0;
    QObject::connect(&exp_, &RecordingController::summaryReady, [&](double d, double r) {
        duration = d;
        rate = r;
    });
    ASSERT_TRUE(exp_.startStillSeries(CaptureFormat::Fit, dir_ / "moon.FIT", {0, false}, false));
    for (int i = 0; i < 3; ++i) {
        FramePtr f = makeFrame(kW, kH);
        f->timeStamp = local(22, 32, 20 + 10 * i);
        exp_.recordFrame(std::move(f));
    }
    exp_.cancel();
    exp_.waitForWriter();
    ASSERT_EQ(exp_.lastLogPath(), dir_ / "moon_00000.FIT.txt");
    bool wellFormed = false;
    auto log = parseLog(exp_.lastLogPath(), &wellFormed);
    ASSERT_EQ(log.count("File"), 3u);
    const std::string want[] = {"moon_00000.FIT", "moon_00001.FIT", "moon_00002.FIT"};
    for (const std::string& name : want) EXPECT_EQ(log.extract("File").mapped(), dir_ / name);
    EXPECT_EQ(log.find("Recording duration")->second, formatText("%.3f s", duration));
    EXPECT_EQ(log.find("Recording rate")->second, formatText("%.2f fps", rate));
    EXPECT_EQ(log.find("Frame rate")->second, "0.15 fps");  // 3 frames over 20.1 s
}

// An AVI is renamed part by part at its close. Killed between the close and the rename, its
// parts stay whole under the provisional name, out of the journal, and the next start's
// recovery leaves them as they are.
TEST_F(SessionRecordTest, AviPartsTakeTheObservationNameAndAKillBeforeTheRenameLosesNothing) {
    exp_.setFacts(facts_);
    exp_.avi().setCodec(0);
    RecoveryJournal journal(dir_ / "journal");
    exp_.setJournal(&journal);
    const std::string provisional = dir_ / "2026-12-09-2132_3-Jupiter-R-unfinished.avi";
    ASSERT_TRUE(runAndKill([&](const KillPoint& kill) {
        exp_.setPartRenamer([&](const std::string&, const std::string&) {
            kill();
            return false;
        });
        if (exp_.startRecording(CaptureFormat::Avi, provisional, kW, kH, false, 8, {0, false},
                                false))
            record(11);
    }));
    const std::string left = aviPartName(provisional, 1);
    const auto bytes = readAll(left);
    Probe probe = ffProbe(left);
    EXPECT_TRUE(!probe.errors && probe.frames == 11 && probe.counted == 11) << probe.output;
    EXPECT_TRUE(journal.pending().empty() && recoverInterruptedRecordings(journal).empty());
    EXPECT_EQ(readAll(left), bytes);
    std::filesystem::remove(left);
    // The killed run's seeing figures stay under its provisional name, which is taken again
    // here by hand (the program itself would pick a free one).
    std::filesystem::remove(qualityFilePath(provisional));

    exp_.setPartRenamer(renameNoReplace);
    ASSERT_TRUE(
        exp_.startRecording(CaptureFormat::Avi, provisional, kW, kH, false, 8, {0, false}, false));
    record(11);
    EXPECT_EQ(exp_.lastFile(), dir_ / "2026-12-09-2132_4-Jupiter-R.avi");
    EXPECT_EQ(exp_.lastLogPath(), dir_ / "2026-12-09-2132_4-Jupiter-R.avi.txt");
    bool wellFormed = false;
    const auto log = parseLog(exp_.lastLogPath(), &wellFormed);
    ASSERT_EQ(log.count("File"), 1u);
    EXPECT_EQ(log.find("File")->second, dir_ / "2026-12-09-2132_4-Jupiter-R-PART1.AVI");
    EXPECT_FALSE(std::filesystem::exists(left));
    probe = ffProbe(dir_ / "2026-12-09-2132_4-Jupiter-R-PART1.AVI");
    EXPECT_TRUE(!probe.errors && probe.frames == 11) << probe.output;
}

TEST(ObservationNames, FromTheUtcTimeTargetAndFilter) {
    struct Case {
        double seconds;
        const char *target, *filter, *want;
    } const cases[] = {
        {24.0, "Jupiter", "R", "2026-12-09-2132_4-Jupiter-R"},
        {23.999, "Jupiter", "", "2026-12-09-2132_3-Jupiter"},
        {5.9, "", "IR-685", "2026-12-09-2132_0-IR_685"},
        {0.0, " Mars / Phobos ", "Ö", "2026-12-09-2132_0-Mars___Phobos-_"},
        {36.0, "", "", "2026-12-09-2132_6"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(observationStem(local(21, 32, c.seconds), c.target, c.filter), c.want)
            << c.seconds;
}

// The SER instrument field holds 40 characters: the filter stays whole, the camera is cut.
TEST(SerInstrument, FilterStaysWholeInFortyCharacters) {
    const std::string cam = "SimCam SP-1280 simulated planetary camera";
    const std::string cases[][3] = {{cam, "R", "SimCam SP-1280 simulated plane, filter R"},
                                    {cam, "", cam.substr(0, 40)},
                                    {"", "H-Alpha", "filter H-Alpha"},
                                    {"C", std::string(40, 'f'), "filter " + std::string(33, 'f')}};
    for (const auto& c : cases) {
        RecordingFacts f;
        f.camera = c[0];
        f.filter = c[1];
        EXPECT_EQ(serTextsOf(f).instrument, c[2]) << c[0] << " / " << c[1];
    }
}

TEST(SessionDetailsSite, DecimalDegreesWithinTheirRange) {
    struct Case {
        const char* text;
        double limit;
        bool ok;
        std::optional<double> value;
    } const cases[] = {{"48.8566", 90, true, 48.8566},     {" -2.35 ", 180, true, -2.35},
                       {"", 90, true, std::nullopt},       {"91", 90, false, std::nullopt},
                       {"1e1", 90, false, std::nullopt},   {"nan", 90, false, std::nullopt},
                       {"4.5.1", 90, false, std::nullopt}, {"-", 90, false, std::nullopt}};
    for (const Case& c : cases) {
        std::optional<double> v;
        EXPECT_EQ(parseDegrees(c.text, c.limit, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}
