#pragma once

#include "DataSet.h"
#include "Peer.h"

#include <memory>

namespace orv::dicom {

class Image;

// Basic Print Management SCU: one film session per open()/close(); images fill the image boxes
// of the current film box in order; a full film box is printed and a new one started.
class FilmPrinter
{
public:
    FilmPrinter(const QString &host, int port, const QString &calledAe, const QString &callingAe);
    explicit FilmPrinter(const Peer &peer);
    ~FilmPrinter();
    FilmPrinter(const FilmPrinter &) = delete;
    FilmPrinter &operator=(const FilmPrinter &) = delete;

    // Colour print uses the Basic Colour Print Management classes; the default is greyscale.
    void setColour(bool colour);
    // Opens the association and creates the film session. Throws Error.
    void open();

    void setDisplayFormat(const QString &format);     // e.g. "STANDARD\2,3"
    void setOrientation(const QString &orientation);  // "PORTRAIT" or "LANDSCAPE"
    void setFilmSize(const QString &filmSize);        // e.g. "8INX10IN"
    // Further attributes for every film box created from now on (e.g. Magnification Type).
    DataSet filmBoxAttributes() const { return m_filmBoxAttributes; }

    // Places the image in the next image box. startNewFilm: print the current film first and
    // start a new one; printWhenFull: print a film as soon as its last box is filled (else the
    // film is printed by close()). Throws Error.
    void printImage(Image &image, bool startNewFilm = false, bool printWhenFull = true);
    // Prints the film holding images not yet printed, ends the film session and releases the
    // association. Throws Error; the association is closed in any case.
    void close();

    bool isOpen() const;
    int filmsPrinted() const { return m_filmsPrinted; }

private:
    struct Session;
    void printFilm();
    void createFilmBox();

    Peer m_peer;
    bool m_colour = false;
    QString m_displayFormat = QStringLiteral("STANDARD\\1,1");
    QString m_orientation = QStringLiteral("PORTRAIT");
    QString m_filmSize = QStringLiteral("8INX10IN");
    DataSet m_filmBoxAttributes;
    std::unique_ptr<Session> m_session;
    int m_filmsPrinted = 0;
};

} // namespace orv::dicom
