#pragma once
// The shell's logging category, the program's own: named after the program, so that a line
// on standard error reads "TarviVideo5X: <message>" with Qt's default message pattern
// (the layers below log as "TarviVideo5X.<layer>", see platform/Log.h).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcProgram)
