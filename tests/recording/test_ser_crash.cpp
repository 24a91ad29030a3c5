// A SER recording that is cut short (process killed) or that fills the disk stays readable:
// the header's frame count follows the recording, the stamps wait in a side file, and the
// next start completes the file through the note the writer left in the recovery journal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

#include "RecTestUtil.h"
#include "platform/Clock.h"
#include "recording/RecoveryJournal.h"
#include "recording/SerWriter.h"

using namespace rectest;
namespace fs = std::filesystem;

namespace {
int64_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int64_t>(v);
}

// Frame i of a recording: the pattern frame stamped i seconds after the test began.
FramePtr stampedFrame(int w, int h, int i) {
    static const LocalDateTime start = localNow();
    FramePtr f = makeFrame(w, h);
    f->timeStamp = start + i / 86400.0;
    return f;
}

// A recording of `frames` frames through `journal`, killed before it was closed.
void killedRecording(RecoveryJournal& journal, const std::string& path, int frames) {
    ASSERT_TRUE(runAndKill([&](const KillPoint& kill) {
        SerWriter ser;
        ser.setJournal(&journal);
        if (!ser.open(path, 32, 8, 8)) return;
        for (int i = 0; i < frames; ++i)
            if (!ser.writeFrame(*stampedFrame(32, 8, i))) return;
        kill();
    }));
}

// Every regular file under `dir`, with its bytes.
std::map<std::string, std::vector<uint8_t>> filesIn(const std::string& dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (fs::is_regular_file(fs::symlink_status(entry.path())))
            files[entry.path()] = readAll(entry.path());
    return files;
}

// Header count, data and trailer agree, and the trailer holds `frames` rising stamps.
void expectComplete(const std::string& path, int w, int h, int frames) {
    const auto b = readAll(path);
    const size_t fb = static_cast<size_t>(w) * h;
    ASSERT_EQ(b.size(), kSerHeaderSize + frames * fb + 8 * frames) << path;
    EXPECT_EQ(le(b, kSerFrameCountOffset, 4), frames);
    const size_t trailer = kSerHeaderSize + frames * fb;
    for (int i = 1; i < frames; ++i)
        EXPECT_GT(le(b, trailer + 8 * i, 8), le(b, trailer + 8 * (i - 1), 8)) << i;
    EXPECT_FALSE(fs::exists(serStampsPath(path)));
}
}  // namespace

TEST(SerCrash, HeaderCountFollowsTheRecordingAtLeastOnceASecond) {
    uint32_t now = 5000;
    testclock::setMillis([&now] { return now; });
    TempDir dir;
    const std::string path = dir / "live.SER";
    SerWriter ser;
    ASSERT_TRUE(ser.open(path, 32, 8, 8));
    int i = 0;
    ASSERT_TRUE(ser.writeFrame(*stampedFrame(32, 8, i++)));
    EXPECT_EQ(le(readAll(path), kSerFrameCountOffset, 4), 1);  // the first frame at once
    now += kSerCountUpdateMs - 1;
    for (; i < 4; ++i) ASSERT_TRUE(ser.writeFrame(*stampedFrame(32, 8, i)));
    EXPECT_EQ(le(readAll(path), kSerFrameCountOffset, 4), 1);
    EXPECT_EQ(fs::file_size(serStampsPath(path)), 4u * 8);
    now += 1;
    ASSERT_TRUE(ser.writeFrame(*stampedFrame(32, 8, i++)));
    EXPECT_EQ(le(readAll(path), kSerFrameCountOffset, 4), 5);
    // The trailer at close is the side file's stamps.
    const auto stamps = readAll(serStampsPath(path));
    ASSERT_TRUE(ser.close());
    expectComplete(path, 32, 8, 5);
    const auto b = readAll(path);
    EXPECT_TRUE(std::equal(stamps.begin(), stamps.end(), b.end() - 40));
    testclock::setMillis(nullptr);
}

TEST(SerCrash, KilledRecordingIsReadableAndFinishedAtTheNextStartThroughItsNote) {
    TempDir dir;
    RecoveryJournal journal(dir / "journal");
    const std::string path = dir / "killed_00000.SER";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerWriter ser;
        ser.setJournal(&journal);
        if (!ser.open(path, 64, 16, 8)) ::_exit(2);
        for (int i = 0; i < 7; ++i)
            if (!ser.writeFrame(*stampedFrame(64, 16, i))) ::_exit(3);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // As the kill left it: a header that counts no more frames than the file holds.
    const auto killed = readAll(path);
    ASSERT_EQ(killed.size(), kSerHeaderSize + 7u * 1024);
    EXPECT_GE(le(killed, kSerFrameCountOffset, 4), 1);
    EXPECT_LE(le(killed, kSerFrameCountOffset, 4), 7);
    // Part of an eighth frame, as a kill in the middle of a write leaves it.
    { std::ofstream(path, std::ios::app | std::ios::binary) << std::string(300, 'x'); }

    const auto outcomes = recoverInterruptedRecordings(journal);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].finished) << outcomes[0].text;
    EXPECT_NE(outcomes[0].text.find("(7 frames)"), std::string::npos) << outcomes[0].text;
    expectComplete(path, 64, 16, 7);
    // Its log says what was recovered: the frames and the stamps of the first and last.
    const auto log = readAll(path + ".txt");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("\nFrames: 7\nFirst frame (UTC): 20"), std::string::npos) << text;
    EXPECT_NE(text.find("\nLast frame (UTC): 20"), std::string::npos) << text;
    EXPECT_TRUE(journal.pending().empty());
    EXPECT_TRUE(recoverInterruptedRecordings(journal).empty());
}

// What a hostile or confused capture folder holds must never be changed: only files the
// journal notes, still the very files the program wrote, with the header it wrote.
TEST(SerCrash, RecoveryChangesNoFileOutsideItsNotesAndNeverBlocks) {
    TempDir dir;
    RecoveryJournal journal(dir / "journal");
    auto complete = [&](const std::string& name, int frames) {
        SerWriter ser;
        EXPECT_TRUE(ser.open(dir / name, 32, 8, 8));
        for (int i = 0; i < frames; ++i) EXPECT_TRUE(ser.writeFrame(*stampedFrame(32, 8, i)));
        EXPECT_TRUE(ser.close());
        return dir / name;
    };
    auto note = [&](const std::string& path, int32_t colorId = 0) {
        JournalEntry e{"SER", path, serStampsPath(path), 0, 0, 32, 8, 8, colorId};
        // Added as by an earlier run: its journal (and with it the note's lock) is gone.
        ASSERT_FALSE(RecoveryJournal(journal.folder()).add(e).empty());
    };
    // No note: a complete recording with an empty side file, and a user's own .stamps file.
    const std::string plain = complete("plain.SER", 10);
    { std::ofstream(serStampsPath(plain)); }
    { std::ofstream(dir / "notes.stamps") << "my notes"; }
    // Noted, then replaced by another file of the same name.
    const std::string replaced = complete("replaced.SER", 4);
    note(replaced);
    fs::rename(complete("other.SER", 3), replaced);
    // Noted, now a link to a complete recording elsewhere.
    const std::string target = complete("elsewhere.SER", 6);
    const std::string link = dir / "link.SER";
    { std::ofstream(link) << "x"; }
    note(link);
    fs::remove(link);
    fs::create_symlink(target, link);
    // Noted as mono, but the file's header says colour.
    const std::string colour = complete("colour.SER", 5);
    note(colour, 8);
    { std::ofstream(serStampsPath(colour)) << std::string(16, 's'); }
    // Noted with a side file shorter than the frames the header already counts.
    const std::string counted = complete("counted.SER", 10);
    note(counted);
    { std::ofstream(serStampsPath(counted)) << std::string(4 * 8, 's'); }
    // Noted, now a FIFO; and a FIFO as a side file.
    const std::string fifo = dir / "fifo.SER";
    { std::ofstream(fifo) << "x"; }
    note(fifo);
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string fifoSide = complete("fifoside.SER", 2);
    note(fifoSide);
    ASSERT_EQ(::mkfifo(serStampsPath(fifoSide).c_str(), 0600), 0);
    // Noted, with a sparse 17 GB side file: bounded by the frames the file holds.
    const std::string sparse = complete("sparse.SER", 3);
    note(sparse);
    { std::ofstream(serStampsPath(sparse)); }
    fs::resize_file(serStampsPath(sparse), 17'000'000'000ULL);

    std::map<std::string, std::vector<uint8_t>> before;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.is_regular_file() && entry.path().filename() != "sparse.SER.stamps")
            before[entry.path()] = readAll(entry.path());
    // A directory named like a note is no note: passed over without a word.
    fs::create_directories(dir / "journal/0-0-0.note");
    const auto outcomes = recoverInterruptedRecordings(journal);
    EXPECT_EQ(outcomes.size(), 7u);
    // None of these notes carries its recording's token (nor are zeros its stamps).
    for (const RecoveryOutcome& o : outcomes) EXPECT_FALSE(o.finished) << o.text;
    for (const auto& [path, bytes] : before) EXPECT_EQ(readAll(path), bytes) << path;
    EXPECT_TRUE(fs::exists(dir / "notes.stamps"));
    EXPECT_TRUE(fs::exists(serStampsPath(plain)));
    EXPECT_TRUE(journal.pending().empty());
    EXPECT_TRUE(fs::is_directory(dir / "journal/0-0-0.note"));
    EXPECT_EQ(fs::file_size(sparse), kSerHeaderSize + 3u * 256 + 3u * 8);
}

// A real note whose side file was swapped for another file (a complete recording, a user's
// file, garbage written over the very side file), or whose note names another side file:
// the recovery leaves every byte alone and says why.
TEST(SerCrash, ANoteIsTrustedOnlyWhenItsFilesAndTokenAgree) {
    TempDir dir;
    RecoveryJournal journal(dir / "journal");
    const std::string cases[] = {"swapped", "garbage", "renoted"};
    for (const std::string& name : cases) killedRecording(journal, dir / name + ".SER", 5);
    SerWriter complete;
    ASSERT_TRUE(complete.open(dir / "complete.SER", 32, 8, 8));
    ASSERT_TRUE(complete.writeFrame(*stampedFrame(32, 8, 0)) && complete.close());
    fs::rename(dir / "complete.SER", serStampsPath(dir / "swapped.SER"));
    {
        std::fstream side(serStampsPath(dir / "garbage.SER"), std::ios::in | std::ios::out);
        side << "garbage!garbage!";  // the same file, its first two stamps overwritten
    }
    std::ofstream(dir / "user.txt") << "a user's own file, 40 bytes long........";
    for (const auto& [key, entry] : journal.pending()) {
        if (entry.path != dir / "renoted.SER") continue;
        std::ifstream in(dir / ("journal/" + key));
        std::string text((std::istreambuf_iterator<char>(in)), {}), side = "side=" + entry.sidePath;
        text.replace(text.find(side), side.size(), "side=" + (dir / "user.txt"));
        std::ofstream(dir / ("journal/" + key), std::ios::trunc) << text;
    }
    const auto before = filesIn(dir / "");
    const auto outcomes = recoverInterruptedRecordings(journal);
    ASSERT_EQ(outcomes.size(), 3u);
    for (const RecoveryOutcome& o : outcomes) {
        EXPECT_FALSE(o.finished) << o.text;
        EXPECT_NE(o.text.find("as it is"), std::string::npos) << o.text;
    }
    auto after = filesIn(dir / "");
    for (auto it = after.begin(); it != after.end();)
        it = it->first.find("/journal/") != std::string::npos ? after.erase(it) : std::next(it);
    auto noted = before;
    for (auto it = noted.begin(); it != noted.end();)
        it = it->first.find("/journal/") != std::string::npos ? noted.erase(it) : std::next(it);
    EXPECT_EQ(after, noted);
}

// A note held by a running recording (another copy of the program, here a second journal on
// the same folder) is passed over; a note a kill cut short while it was written and a
// recording killed before its first frame are cleared away; the word "-unfinished" of a
// provisional observation name goes when the recording is finished.
TEST(SerCrash, LiveNotesArePassedOverAndEarlyLeftoversCleared) {
    TempDir dir;
    RecoveryJournal mine(dir / "journal"), other(dir / "journal");
    SerWriter live;
    live.setJournal(&mine);
    ASSERT_TRUE(live.open(dir / "live.SER", 32, 8, 8));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(live.writeFrame(*stampedFrame(32, 8, i)));
    killedRecording(other, dir / "empty.SER", 0);
    killedRecording(other, dir / "2026-12-10-2201_0-Jupiter-R-unfinished.ser", 4);
    std::ofstream(dir / "journal/1-2-3.note.new") << "format=SER\npath=/x";
    const auto liveBytes = readAll(dir / "live.SER");

    const auto outcomes = recoverInterruptedRecordings(other);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(readAll(dir / "live.SER"), liveBytes);
    EXPECT_TRUE(fs::exists(serStampsPath(dir / "live.SER")));
    EXPECT_FALSE(fs::exists(dir / "empty.SER"));
    EXPECT_FALSE(fs::exists(serStampsPath(dir / "empty.SER")));
    EXPECT_FALSE(fs::exists(dir / "journal/1-2-3.note.new"));
    expectComplete(dir / "2026-12-10-2201_0-Jupiter-R.ser", 32, 8, 4);
    EXPECT_EQ(mine.pending().size(), 1u);  // only the live one
    ASSERT_TRUE(live.writeFrame(*stampedFrame(32, 8, 3)) && live.close());
    expectComplete(dir / "live.SER", 32, 8, 4);
    EXPECT_TRUE(mine.pending().empty());
}

// Fills a small file system of its own (a tmpfs in a private mount namespace): the
// recording ends with the reason, header, frames and trailer agree, and once space is
// freed the next recording works. Where the machine allows no such mount, it is skipped.
TEST(SerCrash, FullDiskKeepsEveryStampAndTheNextRecordingWorks) {
    const char* small = std::getenv("TV_SMALL_FS");
    if (!small) {
        std::string out;
        if (runCommand("unshare -rm true", out) != 0) GTEST_SKIP() << "no private mounts: " << out;
        TempDir mount;
        const int status = runCommand(
            "unshare -rm sh -c 'mount -t tmpfs -o size=1m none " + quote(mount.path()) +
                " && TV_SMALL_FS=" + quote(mount.path()) + " exec " +
                quote(fs::read_symlink("/proc/self/exe").string()) +
                " --gtest_filter=SerCrash.FullDiskKeepsEveryStampAndTheNextRecordingWorks'",
            out);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
        return;
    }
    const std::string dir = small;
    const std::string filler = dir + "/filler";
    { std::ofstream(filler, std::ios::binary) << std::string(300 * 1024, 'f'); }
    const std::string path = dir + "/full.SER";
    SerWriter ser;
    // Small frames: the trailer outgrows the slack of the file's last disk block.
    ASSERT_TRUE(ser.open(path, 16, 16, 8));
    int frames = 0;
    while (frames < 100000 && ser.writeFrame(*stampedFrame(16, 16, frames))) ++frames;
    ASSERT_GT(frames, 1000);
    ASSERT_LT(frames, 100000);
    EXPECT_NE(ser.error().find(path), std::string::npos) << ser.error();
    EXPECT_NE(ser.error().find("No space left on device"), std::string::npos) << ser.error();
    ASSERT_TRUE(ser.close()) << ser.error();
    expectComplete(path, 16, 16, frames);

    fs::remove(filler);
    const std::string next = dir + "/next.SER";
    ASSERT_TRUE(ser.open(next, 64, 64, 8));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(ser.writeFrame(*stampedFrame(64, 64, i))) << i;
    ASSERT_TRUE(ser.close());
    expectComplete(next, 64, 64, 20);
}

// A recording on a disk that is not there at the next start (unplugged, not mounted) keeps
// its note and is finished once the disk is back; here a tmpfs in a private mount namespace
// moved away and back. Where the machine allows no such mount, it is skipped.
TEST(SerCrash, ARecordingOnAnAbsentDiskWaitsForIt) {
    if (!std::getenv("TV_PRIVATE_MOUNTS")) {
        std::string out;
        if (runCommand("unshare -rm true", out) != 0) GTEST_SKIP() << "no private mounts: " << out;
        const int status =
            runCommand("TV_PRIVATE_MOUNTS=1 unshare -rm " +
                           quote(fs::read_symlink("/proc/self/exe").string()) +
                           " --gtest_filter=SerCrash.ARecordingOnAnAbsentDiskWaitsForIt",
                       out);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
        return;
    }
    TempDir dir;
    fs::create_directories(dir / "disk");
    fs::create_directories(dir / "away");
    std::string out;
    ASSERT_EQ(runCommand("mount -t tmpfs -o size=4m none " + quote(dir / "disk"), out), 0) << out;
    fs::create_directories(dir / "disk/night");
    RecoveryJournal journal(dir / "journal");
    const std::string path = dir / "disk/night/moon_00012.SER";
    killedRecording(journal, path, 4);
    ASSERT_EQ(runCommand("mount --move " + quote(dir / "disk") + " " + quote(dir / "away"), out), 0)
        << out;
    auto outcomes = recoverInterruptedRecordings(journal);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].waiting);
    EXPECT_EQ(outcomes[0].text,
              "Waiting for " + (dir / "disk/night") + " to finish moon_00012.SER");
    EXPECT_EQ(journal.pending().size(), 1u);

    ASSERT_EQ(runCommand("mount --move " + quote(dir / "away") + " " + quote(dir / "disk"), out), 0)
        << out;
    outcomes = recoverInterruptedRecordings(journal);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].finished) << outcomes[0].text;
    expectComplete(path, 32, 8, 4);
    EXPECT_TRUE(journal.pending().empty());
    runCommand("umount " + quote(dir / "disk"), out);
}

// The capture folder removed during a recording: the recording ends within a second with
// the reason, and nothing is left noted for a file that cannot be reached.
TEST(SerCrash, ACaptureFolderThatGoesEndsTheRecordingAtOnce) {
    uint32_t now = 5000;
    testclock::setMillis([&now] { return now; });
    TempDir dir;
    RecoveryJournal journal(dir / "journal");
    fs::create_directories(dir / "night");
    SerWriter ser;
    ser.setJournal(&journal);
    ASSERT_TRUE(ser.open(dir / "night/moon_00000.SER", 32, 8, 8));
    ASSERT_TRUE(ser.writeFrame(*stampedFrame(32, 8, 0)));
    fs::remove_all(dir / "night");
    ASSERT_TRUE(ser.writeFrame(*stampedFrame(32, 8, 1)));  // within the second
    now += kSerCountUpdateMs;
    EXPECT_FALSE(ser.writeFrame(*stampedFrame(32, 8, 2)));
    EXPECT_NE(ser.error().find("is no longer on the disk"), std::string::npos) << ser.error();
    EXPECT_FALSE(ser.close());
    EXPECT_NE(ser.error().find("is no longer on the disk"), std::string::npos) << ser.error();
    EXPECT_TRUE(journal.pending().empty());
    testclock::setMillis(nullptr);
}
