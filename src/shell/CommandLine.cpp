#include "shell/CommandLine.h"

#include <algorithm>

#include "acquisition/CameraLib.h"

namespace {
// The toolkit's own options, which QApplication takes from the line (it accepts them with
// one dash or two); `value`: the next argument belongs to it; `equals`: also "-NAME=VALUE".
struct ToolkitOption {
    const char* name;
    bool value;
    bool equals;
};
constexpr ToolkitOption kToolkitOptions[] = {{"platform", true, false},
                                             {"platformpluginpath", true, false},
                                             {"platformtheme", true, false},
                                             {"plugin", true, false},
                                             {"qwindowgeometry", true, false},
                                             {"geometry", true, false},
                                             {"qwindowicon", true, false},
                                             {"icon", true, false},
                                             {"qwindowtitle", true, false},
                                             {"title", true, false},
                                             {"display", true, false},
                                             {"name", true, false},
                                             {"session", true, false},
                                             {"style", true, true},
                                             {"stylesheet", true, true},
                                             {"qmljsdebugger", false, true},
                                             {"reverse", false, false},
                                             {"widgetcount", false, false},
                                             {"nograb", false, false},
                                             {"dograb", false, false},
                                             {"sync", false, false}};

// How many arguments the toolkit option at `arg` spans: 0 when it is none of them.
int toolkitOptionLength(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') return 0;
    const std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
    for (const ToolkitOption& o : kToolkitOptions) {
        if (name == o.name && (o.value || !o.equals)) return o.value ? 2 : 1;
        if (o.equals && name.rfind(std::string(o.name) + "=", 0) == 0) return 1;
    }
    return 0;
}
}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc && line.error.empty(); ++i) {
        const std::string arg = argv[i];
        // Our options come as "--NAME VALUE" or "--NAME=VALUE".
        const size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        auto value = [&]() -> std::optional<std::string> {
            if (eq != std::string::npos) return arg.substr(eq + 1);
            if (i + 1 >= argc) {
                line.error = name + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (name == "--camera-option") {
            if (auto v = value()) {
                if (v->find('=') == std::string::npos || v->front() == '=')
                    line.error = "--camera-option wants KEY=VALUE, not '" + *v + "'";
                else
                    line.options.push_back(*v);
            }
        } else if (name == "--camera") {
            if (auto v = value()) {
                std::string why;
                if (v->empty())
                    line.error = "--camera needs a name or a path";
                else if (!checkCameraChoice(*v, &why))
                    line.error = "--camera: " + why;
                else
                    line.camera = *v;
            }
        } else if (const int n = toolkitOptionLength(arg)) {
            if (n == 2 && ++i >= argc) line.error = arg + " needs a value";
        } else if (arg.size() > 1 && arg[0] == '-') {
            line.error = "unknown option " + arg;
        } else {
            line.error = "unexpected argument '" + arg + "'";
        }
    }
    return line;
}

std::string commandLineUsage() {
    return "Usage: TarviVideo5X [--camera NAME|PATH] [--camera-option KEY=VALUE]...\n"
           "\n"
           "  --camera NAME|PATH          the camera library: NAME loads libtarvidll-NAME.so\n"
           "                              from the program's camera folders, a PATH that file\n"
           "  --camera-option KEY=VALUE   a setting for the camera library (repeatable),\n"
           "                              e.g. server=HOST:PORT or device=NAME for indi,\n"
           "                              file=PATH for ser; for sim sensor=WxH,\n"
           "                              depth=8..16, render=live|cached, and the sky:\n"
           "                              drift=DX,DY (pixels a second), seeing=S (pixels\n"
           "                              of blur and tilt; 1 average, 2 poor),\n"
           "                              clouds=SECONDS (a 2 s fade to 10 % that often),\n"
           "                              truth=PATH (each exposure's planet centre and\n"
           "                              blur, one line per exposure)\n"
           "  --help                      this text and the camera libraries found\n"
           "  --version                   the program's version\n"
           "\n"
           "The toolkit's own options (-platform NAME, -style NAME, ...) are passed on.\n"
           "A camera and its options are remembered once the camera has opened, and used\n"
           "at the next start without --camera. Without a choice the simulated camera\n"
           "(libtarvidll.so) is used.\n";
}

std::string commandLineHelp(const std::vector<std::string>& cameras) {
    std::string text = commandLineUsage() + "\nCamera libraries found:";
    if (cameras.empty()) text += " none";
    for (const std::string& name : cameras) text += "\n  " + name;
    return text + "\n";
}

namespace {
// A choice as the user would type it.
std::string describe(const CameraChoice& choice) {
    std::string text =
        choice.name.isEmpty()
            ? std::string("the default camera (libtarvidll.so)")
            : "--camera " + bytesOfText(choice.name.size() <= 40
                                            ? choice.name
                                            : choice.name.left(37) + QStringLiteral("..."));
    for (const QString& o : choice.options) text += " --camera-option " + bytesOfText(o);
    return text;
}
}  // namespace

CameraChoice resolveCameraChoice(const CommandLine& line) {
    CameraChoice camera = readCameraChoice();
    // Tried once: a choice that does not open must not keep every later start from
    // reaching the camera that worked.
    forgetNextCameraChoice();
    if (!line.camera && line.options.empty()) return camera;
    // The arguments' bytes, which file names may hold outside UTF-8, stay as they are.
    if (line.camera) camera.name = textOfBytes(*line.camera);
    camera.options.clear();
    for (const std::string& o : line.options) camera.options << textOfBytes(o);
    return camera;
}

bool loadCameraChoice(const CameraChoice& choice, std::string* error) {
    std::vector<CameraOptionValue> options;
    for (const QString& text : choice.options) {
        CameraOptionValue o;
        if (parseCameraOption(bytesOfText(text), o)) options.push_back(o);
    }
    return loadChosenCamera(bytesOfText(choice.name), error) && applyCameraOptions(options, error);
}

std::string noCameraHint(const CameraChoice& tried, const CameraChoice& working,
                         const std::vector<std::string>& cameras) {
    std::string text;
    if (cameras.empty()) {
        text = "No camera libraries were found beside the program.";
    } else {
        text = "Cameras found:";
        for (size_t i = 0; i < cameras.size(); ++i) text += (i ? ", " : " ") + cameras[i];
        text += ". Choose one with --camera NAME";
        if (std::find(cameras.begin(), cameras.end(), "sim") != cameras.end())
            text += " (--camera sim: the simulated camera)";
        text += "; --help lists the options.";
    }
    if (!(tried == working))
        text += "\nThe next start without --camera uses " + describe(working) + ".";
    return text;
}
