#include "shell/CommandLine.h"

#include <cstring>

#include "platform/Settings.h"

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            const std::string prefix = std::string(name) + "=";
            if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
            if (arg != name) return std::nullopt;
            if (i + 1 >= argc) {
                line.error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg.rfind("--camera-option", 0) == 0) {
            if (auto v = value("--camera-option")) {
                if (v->find('=') == std::string::npos || v->front() == '=')
                    line.error = "--camera-option wants KEY=VALUE, not '" + *v + "'";
                else
                    line.options.push_back(*v);
            }
        } else if (arg.rfind("--camera", 0) == 0 && (arg == "--camera" || arg[8] == '=')) {
            if (auto v = value("--camera")) {
                if (v->empty())
                    line.error = "--camera needs a name or a path";
                else
                    line.camera = *v;
            }
        }
        if (!line.error.empty()) break;
    }
    return line;
}

std::string CommandLineHelp(const std::vector<std::string>& cameras) {
    std::string text =
        "Usage: TarviVideo5X [--camera NAME|PATH] [--camera-option KEY=VALUE]...\n"
        "\n"
        "  --camera NAME|PATH          the camera library: NAME loads libtarvidll-NAME.so\n"
        "                              from the program's camera folders, a PATH that file\n"
        "  --camera-option KEY=VALUE   a setting for the camera library (repeatable),\n"
        "                              e.g. server=HOST:PORT or device=NAME for indi,\n"
        "                              file=PATH for ser\n"
        "  --help                      this text\n"
        "  --version                   the program's version\n"
        "\n"
        "The camera and its options are remembered for the next start without them.\n"
        "Without a choice the simulated camera (libtarvidll.so) is used.\n"
        "\n"
        "Camera libraries found:";
    if (cameras.empty()) text += " none";
    for (const std::string& name : cameras) text += "\n  " + name;
    return text + "\n";
}

CameraChoice ReadCameraChoice() {
    CameraChoice choice;
    auto store = OpenSettings();
    store->beginGroup(QStringLiteral("Camera"));
    choice.name = store->value(QStringLiteral("Name")).toString();
    choice.options = store->value(QStringLiteral("Options")).toStringList();
    store->endGroup();
    return choice;
}

bool WriteCameraChoice(const CameraChoice& choice) {
    auto store = OpenSettings();
    store->beginGroup(QStringLiteral("Camera"));
    store->setValue(QStringLiteral("Name"), choice.name);
    store->setValue(QStringLiteral("Options"), choice.options);
    store->endGroup();
    store->sync();
    return store->status() == QSettings::NoError;
}

CameraChoice ResolveCameraChoice(const CommandLine& line) {
    CameraChoice camera = ReadCameraChoice();
    if (!line.camera && line.options.empty()) return camera;
    if (line.camera) camera.name = QString::fromStdString(*line.camera);
    camera.options.clear();
    for (const std::string& o : line.options) camera.options << QString::fromStdString(o);
    WriteCameraChoice(camera);
    return camera;
}
