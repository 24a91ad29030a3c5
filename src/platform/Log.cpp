#include "platform/Log.h"

Q_LOGGING_CATEGORY(lcPlatform, "TarviVideo5X.platform")
