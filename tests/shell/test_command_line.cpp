// The command line, the camera choice it leaves in the settings, and the real program's
// --help and --version.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ShellTestEnv.h"
#include "shell/AppInfo.h"
#include "shell/CommandLine.h"

namespace {
CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "TarviVideo5X");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// Runs the program with these arguments; its exit status and what it printed.
int RunProgram(const std::string& args, std::string& out) {
    out.clear();
    FILE* p = ::popen((TV_BINARY_DIR "/bin/TarviVideo5X " + args + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(CommandLine, CameraAndOptionsInBothFormsOtherArgumentsLeftToTheToolkit) {
    const CommandLine line = Parse({"-platform", "offscreen", "--camera", "indi", "--camera-option",
                                    "server=scope:7624", "--camera-option=device=CCD Simulator"});
    EXPECT_TRUE(line.error.empty()) << line.error;
    ASSERT_TRUE(line.camera);
    EXPECT_EQ(*line.camera, "indi");
    EXPECT_EQ(line.options,
              (std::vector<std::string>{"server=scope:7624", "device=CCD Simulator"}));
    EXPECT_FALSE(line.help || line.version);

    EXPECT_EQ(*Parse({"--camera=/opt/lib/libcam.so"}).camera, "/opt/lib/libcam.so");
    EXPECT_FALSE(Parse({"--cameras"}).camera);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
    EXPECT_FALSE(Parse({}).camera);
}

TEST(CommandLine, IncompleteOrMalformedOptionsAreErrors) {
    EXPECT_NE(Parse({"--camera"}).error, "");
    EXPECT_NE(Parse({"--camera="}).error, "");
    EXPECT_NE(Parse({"--camera-option"}).error, "");
    EXPECT_NE(Parse({"--camera-option", "server"}).error, "");
    EXPECT_NE(Parse({"--camera-option", "=value"}).error, "");
}

TEST(CommandLine, TheChoiceIsRememberedAndUsedAtTheNextStartWithoutOptions) {
    TempConfig config;
    const CameraChoice first =
        ResolveCameraChoice(Parse({"--camera", "indi", "--camera-option", "server=scope:7624"}));
    EXPECT_EQ(first.name, QStringLiteral("indi"));
    // The next start, from the settings file alone.
    const CameraChoice next = ResolveCameraChoice(Parse({}));
    EXPECT_EQ(next.name, QStringLiteral("indi"));
    EXPECT_EQ(next.options, QStringList{QStringLiteral("server=scope:7624")});
    EXPECT_TRUE(config.ReadIni().contains("[Camera]"));
    // Options alone go to the remembered camera; a new camera starts without the old options.
    EXPECT_EQ(ResolveCameraChoice(Parse({"--camera-option", "device=B"})).options,
              QStringList{QStringLiteral("device=B")});
    EXPECT_EQ(ReadCameraChoice().name, QStringLiteral("indi"));
    const CameraChoice sim = ResolveCameraChoice(Parse({"--camera", "sim"}));
    EXPECT_TRUE(sim.options.isEmpty());
    EXPECT_EQ(ReadCameraChoice().name, QStringLiteral("sim"));
}

TEST(CommandLine, TheProgramPrintsItsHelpWithTheCamerasFoundAndItsVersion) {
    std::string out;
    ASSERT_EQ(RunProgram("--help", out), 0) << out;
    EXPECT_NE(out.find("--camera-option KEY=VALUE"), std::string::npos) << out;
    const size_t found = out.find("Camera libraries found:");
    ASSERT_NE(found, std::string::npos) << out;
    for (const char* name : {"\n  indi", "\n  ser", "\n  sim"})
        EXPECT_NE(out.find(name, found), std::string::npos) << name << " in " << out;

    ASSERT_EQ(RunProgram("--version", out), 0) << out;
    EXPECT_EQ(out, std::string(AppName) + " " + AppVersion + "\n");

    EXPECT_EQ(RunProgram("--camera-option nonsense", out), 2);
    EXPECT_NE(out.find("KEY=VALUE"), std::string::npos) << out;
}
