// The command line, the camera choice it leaves in the settings, and the real program's
// --help and --version.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "RunCommand.h"
#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "platform/AppInfo.h"
#include "serformat/SerFormat.h"
#include "shell/CommandLine.h"

namespace {
CommandLine parse(std::vector<std::string> args) {
    args.insert(args.begin(), "TarviVideo5X");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// Runs the program with these arguments; its exit status and what it printed.
int runProgram(const std::string& args, std::string& out) {
    return tvtest::runCommand(TV_BINARY_DIR "/bin/TarviVideo5X " + args, out);
}
}  // namespace

TEST(CommandLine, CameraAndOptionsInBothFormsOtherArgumentsLeftToTheToolkit) {
    const CommandLine line = parse({"-platform", "offscreen", "--camera", "indi", "--camera-option",
                                    "server=scope:7624", "--camera-option=device=CCD Simulator"});
    EXPECT_TRUE(line.error.empty()) << line.error;
    ASSERT_TRUE(line.camera);
    EXPECT_EQ(*line.camera, "indi");
    EXPECT_EQ(line.options,
              (std::vector<std::string>{"server=scope:7624", "device=CCD Simulator"}));
    EXPECT_FALSE(line.help || line.version);

    EXPECT_EQ(*parse({"--camera=/opt/lib/libcam.so"}).camera, "/opt/lib/libcam.so");
    EXPECT_FALSE(parse({"--cameras"}).camera);
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_FALSE(parse({}).camera);
}

TEST(CommandLine, IncompleteOrMalformedOptionsAreErrors) {
    EXPECT_NE(parse({"--camera"}).error, "");
    EXPECT_NE(parse({"--camera="}).error, "");
    EXPECT_NE(parse({"--camera-option"}).error, "");
    EXPECT_NE(parse({"--camera-option", "server"}).error, "");
    EXPECT_NE(parse({"--camera-option", "=value"}).error, "");
}

// Lines the program refuses with status 2: unknown options, stray arguments, camera names
// that cannot name a library file; the toolkit's own options pass.
struct LineCase {
    std::vector<std::string> args;
    bool usable;
};
class CommandLineCheck : public ::testing::TestWithParam<LineCase> {};
TEST_P(CommandLineCheck, OnlyOurOptionsAndTheToolkitsPass) {
    const CommandLine line = parse(GetParam().args);
    EXPECT_EQ(line.error.empty(), GetParam().usable) << line.error;
}
INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineCheck,
    ::testing::Values(LineCase{{"--foo"}, false}, LineCase{{"extra"}, false},
                      LineCase{{"--cameras"}, false}, LineCase{{"--camera-options", "a=1"}, false},
                      LineCase{{"--help=1"}, false}, LineCase{{"-platform"}, false},
                      LineCase{{"--camera", std::string(250, 'x')}, false},
                      LineCase{{"--camera", std::string(240, 'x')}, true},
                      LineCase{{"--camera", "../sim"}, true},  // a path
                      LineCase{{"--camera", "a b"}, false}, LineCase{{"--camera=sim;rm"}, false},
                      LineCase{{"--platform", "xcb", "-style=fusion", "-reverse"}, true}));

TEST(CommandLine, ABadCameraNameIsNoCameraWithoutAnException) {
    std::string error;
    EXPECT_FALSE(loadChosenCamera(std::string(250, 'x'), &error));
    EXPECT_NE(error.find("longer than 240"), std::string::npos) << error;
    EXPECT_FALSE(loadChosenCamera("no-such-camera", &error));
    EXPECT_EQ(error, "no camera library libtarvidll-no-such-camera.so");
    EXPECT_FALSE(camera().complete());
    // A refused option carries the library's own reason.
    ASSERT_TRUE(loadCameraLibraryFrom(TV_BINARY_DIR "/bin/libtarvidll-ser.so", &error)) << error;
    EXPECT_FALSE(applyCameraOptions({{"speed", "2"}}, &error));
    EXPECT_EQ(error, "camera option speed=2 refused: unknown option \"speed\"");
    setCameraApi(TarviApi{});
}

TEST(CommandLine, AChoiceIsRememberedOnlyOnceItsCameraHasOpened) {
    TempConfig config;
    const CameraChoice indi =
        resolveCameraChoice(parse({"--camera", "indi", "--camera-option", "server=scope:7624"}));
    EXPECT_EQ(indi, (CameraChoice{"indi", {"server=scope:7624"}}));
    EXPECT_EQ(readCameraChoice(), CameraChoice{});  // tried, not yet opened
    ASSERT_TRUE(rememberWorkingCamera(indi));
    EXPECT_TRUE(config.readIni().contains("[Camera]"));
    // The next start, from the settings file alone.
    EXPECT_EQ(resolveCameraChoice(parse({})), indi);
    // Options alone go to the remembered camera; a new camera starts without the old options.
    EXPECT_EQ(resolveCameraChoice(parse({"--camera-option", "device=B"})),
              (CameraChoice{"indi", {"device=B"}}));
    EXPECT_TRUE(resolveCameraChoice(parse({"--camera", "sim"})).options.isEmpty());
    EXPECT_EQ(readWorkingCameraChoice(), indi);

    // A choice made in the program is tried at the next start only.
    ASSERT_TRUE(writeCameraChoice({"ser", {"file=/x.ser"}}));
    EXPECT_EQ(readCameraChoice().name, QStringLiteral("ser"));
    EXPECT_EQ(resolveCameraChoice(parse({})).name, QStringLiteral("ser"));
    EXPECT_EQ(resolveCameraChoice(parse({})), indi);
}

// Names are kept as bytes (UTF-8 read as its text), so a camera library folder and a SER file
// whose names hold byte 0xE9 alone are reached from the command line and, at the next start,
// from the settings file.
TEST(CommandLine, PathsOutsideUtf8ReachTheCameraWithTheirBytes) {
    const std::string cases[] = {"caf\xC3\xA9",  "m\xE9lange", "\xF0\x90\x82\x80", "\xF0\x90\x82",
                                 "\xED\xB2\x80", "\xC0\xAF",   "\xF4\x90\x80\x80", "\x80\xFF"};
    for (const std::string& bytes : cases) EXPECT_EQ(bytesOfText(textOfBytes(bytes)), bytes);
    EXPECT_EQ(textOfBytes("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
    TempConfig config;
    const std::string dir = config.dir().toStdString() + "/caf\xE9";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const std::string library = dir + "/libtarvidll-ser.so", file = dir + "/m\xE9lange.ser";
    ASSERT_EQ(symlink(TV_BINARY_DIR "/bin/libtarvidll-ser.so", library.c_str()), 0);
    ser::Header header;
    header.width = 4, header.height = 2, header.depth = 8, header.frameCount = 1;
    uint8_t bytes[ser::kHeaderSize + 8] = {};
    ser::encodeHeader(header, bytes);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<char*>(bytes), sizeof bytes);
    const CameraChoice chosen =
        resolveCameraChoice(parse({"--camera", library, "--camera-option", "file=" + file}));
    ASSERT_TRUE(rememberWorkingCamera(chosen));
    const QByteArray ini = config.readIni();
    TempConfig nextStart;  // a file of its own, which the next start reads from the disk
    ASSERT_TRUE(nextStart.writeIni(ini));
    for (const CameraChoice& choice : {chosen, resolveCameraChoice(parse({}))}) {
        std::string error;
        ASSERT_TRUE(loadCameraChoice(choice, &error)) << error;
        ASSERT_EQ(camera().openUSB(0), 1) << cameraFailureReason();
        EXPECT_EQ(std::string(camera().getCameraInfo(nullptr, nullptr)),
                  "SER playback: m\xE9lange.ser");
    }
    setCameraApi(TarviApi{});
}

TEST(CommandLine, TheNoCameraHintNamesTheCamerasAndTheCameraTheNextStartUses) {
    const CameraChoice sim{"sim", {}}, bad{"nosuch", {}};
    const std::string hint = noCameraHint(bad, sim, {"indi", "sim"});
    EXPECT_NE(hint.find("Cameras found: indi, sim."), std::string::npos) << hint;
    EXPECT_NE(hint.find("--camera sim: the simulated camera"), std::string::npos) << hint;
    EXPECT_NE(hint.find("next start without --camera uses --camera sim."), std::string::npos);
    // Nothing about the next start when it is the camera that just failed.
    EXPECT_EQ(noCameraHint(sim, sim, {}).find("next start"), std::string::npos);
    EXPECT_NE(noCameraHint(sim, sim, {}).find("No camera libraries"), std::string::npos);
}

TEST(CommandLine, TheProgramPrintsItsHelpWithTheCamerasFoundAndItsVersion) {
    std::string out;
    ASSERT_EQ(runProgram("--help", out), 0) << out;
    EXPECT_NE(out.find("--camera-option KEY=VALUE"), std::string::npos) << out;
    const size_t found = out.find("Camera libraries found:");
    ASSERT_NE(found, std::string::npos) << out;
    for (const char* name : {"\n  indi", "\n  ser", "\n  sim"})
        EXPECT_NE(out.find(name, found), std::string::npos) << name << " in " << out;

    ASSERT_EQ(runProgram("--version", out), 0) << out;
    EXPECT_EQ(out, std::string(kAppName) + " " + kAppVersion + "\n");

    EXPECT_EQ(runProgram("--camera-option nonsense", out), 2);
    EXPECT_NE(out.find("KEY=VALUE"), std::string::npos) << out;
    // An unknown option ends with the usage.
    EXPECT_EQ(runProgram("--foo", out), 2);
    EXPECT_EQ(out.rfind("TarviVideo5X: unknown option --foo\n\nUsage: ", 0), 0u) << out;
}
