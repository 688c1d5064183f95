#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace orv {

struct TransactionRecord;

// The SendVideos setting (application VelmorOrvaline, section DICOM, default 0): "S&end to
// PACS" sends Video rows only when it is 1.
bool sendsVideos();

// Turns the clip of a Video row (`clipPath`, an AVI) into a DICOM video object stamped with
// `transaction` like a picture, Instance Number `imageNumber`, and writes it at `target` ready
// to send: Video Endoscopic Image Storage when the transaction's modality is ES, else Video
// Photographic Image Storage; H.264 High Profile / Level 4.1. Any thread; the transcoding takes
// a while, so never the GUI thread. Asks `stopped` between frames and tells `progress` the share
// of the clip done (0..1) as it grows. Returns the log lines of the
// values the toolkit changed so that the object stays valid. Throws orv::Error naming the clip
// when it cannot be converted, or the file when it cannot be written (no file is left then).
QStringList writeVideoObjectFile(const QString &clipPath, const TransactionRecord &transaction, int imageNumber,
                                 const QString &companyName, const QString &target,
                                 const std::function<bool()> &stopped = {},
                                 const std::function<void(double done)> &progress = {});

} // namespace orv
