#pragma once

#include <QImage>
#include <QString>

namespace orv::capture {

// Writes a frame as an uncompressed 24-bit Windows bitmap. Throws Error with the reason (the
// folder is missing or read-only, the disc is full, ...); a partly written file is removed.
void writeBitmap(const QImage &frame, const QString &path);

} // namespace orv::capture
