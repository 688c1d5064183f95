#pragma once

#include "Peer.h"

namespace orv::dicom {

class Image;

// Storage SCU: one association per image (C-STORE).
class StoreScu
{
public:
    StoreScu(const QString &host, int port, const QString &callingAe, const QString &calledAe);
    explicit StoreScu(const Peer &peer) : m_peer(peer) {}
    // Sends the image and returns the DIMSE status of the C-STORE response (0 = success).
    // Throws Error when the peer cannot be reached, refuses the association, accepts no
    // presentation context for the image's SOP class (the Error's code is then 0x0122, "SOP class
    // not supported"), or does not answer in time.
    int send(Image &image);

private:
    Peer m_peer;
};

} // namespace orv::dicom
