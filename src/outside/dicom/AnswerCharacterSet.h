#pragma once

// The character sets of what peers answer (internal to this layer).

class DcmDataset;

namespace orv::dicom {

// Converts the text of an answer to UTF-8 where its character set allows. An answer that names no
// character set but is not valid UTF-8 is taken as Latin-1 (providers answer in their own set
// unless the query asked for it). Japanese in ISO 2022, which the toolkit's conversion through
// the C library refuses, is decoded value by value; escape sequences a provider left in text it
// already converted are removed.
void convertAnswerToUtf8(DcmDataset *answer);

} // namespace orv::dicom
