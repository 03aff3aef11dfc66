#pragma once

#include <QCursor>
#include <QString>
#include <optional>

// Loads a pointer from an ICO-family cursor file, with the hotspot its header gives.
// A missing, short or broken file gives no pointer.
std::optional<QCursor> loadCursorFile(const QString &path);
