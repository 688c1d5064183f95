#pragma once

#include "ValueChange.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

namespace orv::dicom {

class Image;

inline constexpr const char *kVideoPhotographicClass = "1.2.840.10008.5.1.4.1.1.77.1.4.1";
inline constexpr const char *kVideoEndoscopicClass = "1.2.840.10008.5.1.4.1.1.77.1.1.1";
// MPEG-4 AVC/H.264 High Profile / Level 4.1.
inline constexpr const char *kH264HighProfile41 = "1.2.840.10008.1.2.4.102";

// A clip as one H.264 elementary stream (Annex B byte stream: start codes, parameter sets
// before every key frame), 8-bit 4:2:0 limited range, High profile, level 4.1 or lower:
// progressive, at most 1920x1080, even width and height, and a frame rate the level allows
// for that size. `frames` pictures, each shown for 1/frameRate seconds.
struct H264Clip
{
    QByteArray stream;
    int width = 0;
    int height = 0;
    int frames = 0;
    int rateNum = 25; // frame rate as a fraction
    int rateDen = 1;
    QDateTime recorded; // when the clip was made (its file's time), for the content date
    double frameRate() const { return rateDen > 0 ? double(rateNum) / rateDen : 0.0; }
};

// Decodes the video of `path` (any container and codec FFmpeg reads; audio is left out) and
// encodes it again with libx264. A picture larger than 1920x1080 is scaled down to fit, keeping
// its aspect; a frame rate above what level 4.1 allows for the size is halved (every second
// frame kept) until it fits. Asks `stopped` between frames; true ends the work with an Error.
// `progress` gets the share of the clip done (0..1) when it grows by a percent or more and the
// clip's duration is known. Throws Error naming the file and the reason when it cannot be read,
// holds no video or no frame that decodes, or when the stream would exceed what one fragment
// can hold.
H264Clip transcodeToH264(const QString &path, const std::function<bool()> &stopped = {},
                         const std::function<void(double done)> &progress = {});

// Turns `image`, which holds the identity its caller stamped, into a video object of
// `sopClass` (Video Photographic or Video Endoscopic Image) holding `clip` as its pixel data,
// the whole stream in one fragment after an empty offset table, and writes it as a PS3.10
// file in the H.264 transfer syntax. Adds what the object's modules require and nobody set
// (Modality "XC" or "ES", as the class requires; Cine and Multi-frame attributes with Frame
// Time, an empty Acquisition Context, Image Type ORIGINAL\PRIMARY, lossy compression marks),
// an Anatomic Region of "Entire body" unless one is set,
// drops the Secondary Capture attributes a picture would carry, and conforms every value.
// Returns the value changes. Throws Error when the file cannot be written.
ValueChanges writeVideoObject(Image &image, const H264Clip &clip, const QString &sopClass, const QString &path);

} // namespace orv::dicom
