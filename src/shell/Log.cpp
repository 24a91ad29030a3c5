#include "shell/Log.h"

Q_LOGGING_CATEGORY(lcProgram, "TarviVideo5X")
