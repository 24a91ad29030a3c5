#pragma once
// The program's logging category. Its name is the program's, so a line on standard error
// reads "TarviVideo5X: <message>" with Qt's default message pattern; QT_LOGGING_RULES can
// silence it ("TarviVideo5X.info=false").
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcProgram)
