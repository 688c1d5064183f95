#pragma once

#include <cstdint>
#include <vector>

class DcmDataset;

namespace orv::dicom {

// One frame decoded from a JPEG 2000 codestream: components interleaved, as integers of the
// codestream's precision, signed when the data set's Pixel Representation says so (whatever the
// codestream says). Colour images come back as RGB (the
// codestream's component transform undone).
struct Jpeg2000Frame
{
    int width = 0;
    int height = 0;
    int components = 0;
    int precision = 8;
    bool isSigned = false;
    std::vector<std::int32_t> samples;
};

// True for the JPEG 2000 transfer syntaxes (lossless only and lossy).
bool isJpeg2000(const char *transferSyntaxUid);
// Decodes the first frame of the data set's encapsulated pixel data. Throws Error with a short
// reason when the codestream is missing, damaged or of a layout not shown (subsampled components).
Jpeg2000Frame decodeJpeg2000(DcmDataset *dataset);

} // namespace orv::dicom
