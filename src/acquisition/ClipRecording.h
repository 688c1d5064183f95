#pragma once

#include "outside/encoder/AviEncoder.h"

#include <QString>

namespace orv {

// Runs each encoding handed to it as a job of transaction `transNo` (its own lane, so a long
// clip holds up neither frames nor other work; the image list is not made busy). When the job
// ends, whatever its result and whether or not the station is still open, the clip file
// `folder`/`fileName` becomes a New "Video" row of that transaction, provided the encoder
// created it (what was written before a failure is kept and listed).
encoder::AVIEncoderX::Executor clipExecutor(const QString &transNo, const QString &folder, const QString &fileName);

// The New "Video" row of a finished clip in its transaction's rows.
void listClip(const QString &transNo, const QString &folder, const QString &fileName);

} // namespace orv
