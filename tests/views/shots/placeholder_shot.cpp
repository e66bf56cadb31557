// Keeps the picture writer non-empty until the first view brings its own pictures.
#include "shots.h"

#include <QLabel>

ZEMPRIX_SHOT("harness.png")
{
    auto label = std::make_unique<QLabel>(QStringLiteral("ZEMPRIX"));
    label->resize(160, 40);
    return label;
}
