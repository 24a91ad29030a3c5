#pragma once
#include <QColor>

// The sky blue of the splash background and of the subframe rectangle.
inline const QColor kSkyBlue(166, 202, 240);
