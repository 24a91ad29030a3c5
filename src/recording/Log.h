#pragma once
// The recording layer's logging category, "TarviVideo5X.recording" (see platform/Log.h).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRecording)
