#include "recording/Log.h"

Q_LOGGING_CATEGORY(lcRecording, "TarviVideo5X.recording")
