#pragma once
// The acquisition layer's logging category, "TarviVideo5X.acquisition" (see platform/Log.h).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAcquisition)
