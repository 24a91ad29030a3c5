#pragma once
// The platform layer's logging category. Each layer that logs has its own, declared in its
// Log.h and named after the program and the layer, so that a line on standard error reads
// "TarviVideo5X.platform: <message>" with Qt's default message pattern and QT_LOGGING_RULES
// can silence one layer ("TarviVideo5X.platform=false"). The shell logs under the
// program's own name (shell/Log.h).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
