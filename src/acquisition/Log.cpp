#include "acquisition/Log.h"

Q_LOGGING_CATEGORY(lcAcquisition, "TarviVideo5X.acquisition")
