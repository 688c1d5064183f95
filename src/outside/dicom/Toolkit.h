#pragma once

#include "outside/Error.h"

#include <QString>

class OFCondition;

namespace orv::dicom {

// Transfer syntaxes a caller may choose when writing a file.
inline constexpr const char *kExplicitLittleEndian = "1.2.840.10008.1.2.1";
inline constexpr const char *kImplicitLittleEndian = "1.2.840.10008.1.2";
inline constexpr const char *kJpegExtended = "1.2.840.10008.1.2.4.51";
inline constexpr const char *kJpegBaseline = "1.2.840.10008.1.2.4.50";

inline constexpr const char *kSecondaryCaptureClass = "1.2.840.10008.5.1.4.1.1.7";
inline constexpr const char *kMultiFrameGreyClass = "1.2.840.10008.5.1.4.1.1.7.2";
inline constexpr const char *kMultiFrameColourClass = "1.2.840.10008.5.1.4.1.1.7.4";

// Prepares the toolkit once per process (data dictionary, quiet logging). Every class of this
// layer calls it; calling it again does nothing. Throws Error when the data dictionary cannot
// be loaded.
void initialise();
// initialise() and the pixel data codecs (JPEG, RLE), for whatever touches pixels: images.
// Kept apart so that programs reading only attributes do not load the imaging libraries.
void initialiseCodecs();

// For programs that only read attributes (the command-line dump): the data dictionary starts
// with the standard entries and takes the private ones (DCMTK's private.dic) only when a file
// read holds private attributes, which is then read again with them; the result is the same,
// files without private attributes are read sooner. Call before anything else of the layer;
// does nothing when DCMDICTPATH is set or the dictionary is already loaded.
void deferPrivateDictionary();
// Loads the private entries deferred by deferPrivateDictionary(); false when there were none
// left to load. Internal to this layer.
bool loadDeferredPrivateDictionary();

// A fresh, globally unique UID under the current root.
QString newUid();
// Replaces the UID root used by newUid(); empty restores the toolkit's own root.
void setUidRoot(const QString &root);
QString uidRoot();

// Seconds allowed for connecting, for association negotiation and for each network message
// (10 by default). A peer that does not answer within it fails the operation.
void setNetworkTimeout(int seconds);
int networkTimeout();
// Seconds a whole message from a peer (a command or a data set, however many pieces it comes
// in) may take from its first byte to its last (60 by default): a peer that trickles its answer
// fails the exchange within it, however short its pauses.
void setExchangeTimeLimit(int seconds);
int exchangeTimeLimit();

// Throws Error with "what: condition text" when the condition is bad.
void check(const OFCondition &cond, const QString &what);
[[noreturn]] void fail(const QString &description, int code = -1);

} // namespace orv::dicom
