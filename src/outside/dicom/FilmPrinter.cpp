#include "FilmPrinter.h"

#include "Image.h"
#include "Picture.h"
#include "ScuAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

namespace orv::dicom {

struct FilmPrinter::Session
{
    Scu scu;
    T_ASC_PresentationContextID pc = 0;
    OFString sessionUid;
    OFString filmBoxUid;
    QList<OFString> imageBoxes;
    int filled = 0;

    explicit Session(const Peer &peer)
        : scu(peer)
    {}
    ~Session()
    {
        if (scu.isConnected())
            scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
    }

    // N-DELETE of a film box or the film session; the printer's answer status is not checked.
    void remove(const char *sopClass, const OFString &uid, const QString &what)
    {
        T_DIMSE_Message del{};
        del.CommandField = DIMSE_N_DELETE_RQ;
        auto &dq = del.msg.NDeleteRQ;
        dq.MessageID = scu.nextId();
        OFStandard::strlcpy(dq.RequestedSOPClassUID, sopClass, sizeof dq.RequestedSOPClassUID);
        OFStandard::strlcpy(dq.RequestedSOPInstanceUID, uid.c_str(), sizeof dq.RequestedSOPInstanceUID);
        dq.DataSetType = DIMSE_DATASET_NULL;
        scu.request(pc, del, nullptr, nullptr, what);
    }
};

FilmPrinter::FilmPrinter(const QString &host, int port, const QString &calledAe, const QString &callingAe)
    : m_peer{host, port, callingAe, calledAe, {}}
{}

FilmPrinter::FilmPrinter(const Peer &peer)
    : m_peer(peer)
{}

FilmPrinter::~FilmPrinter() = default;

void FilmPrinter::setColour(bool colour) { m_colour = colour; }
void FilmPrinter::setDisplayFormat(const QString &format) { m_displayFormat = format; }
void FilmPrinter::setOrientation(const QString &orientation) { m_orientation = orientation; }
void FilmPrinter::setFilmSize(const QString &filmSize) { m_filmSize = filmSize; }
bool FilmPrinter::isOpen() const { return bool(m_session); }

void FilmPrinter::open()
{
    if (m_session)
        fail(QStringLiteral("The film printer is already open."));
    auto s = std::make_unique<Session>(m_peer);
    const char *meta = m_colour ? UID_BasicColorPrintManagementMetaSOPClass : UID_BasicGrayscalePrintManagementMetaSOPClass;
    s->pc = s->scu.connectFor(meta, m_colour ? QStringLiteral("%1 does not offer colour print management.")
                                             : QStringLiteral("%1 does not offer greyscale print management."));
    DcmDataset attrs;
    attrs.putAndInsertString(DCM_NumberOfCopies, "1");
    T_DIMSE_Message msg{};
    msg.CommandField = DIMSE_N_CREATE_RQ;
    auto &rq = msg.msg.NCreateRQ;
    rq.MessageID = s->scu.nextId();
    OFStandard::strlcpy(rq.AffectedSOPClassUID, UID_BasicFilmSessionSOPClass, sizeof rq.AffectedSOPClassUID);
    rq.DataSetType = DIMSE_DATASET_PRESENT;
    rq.opts = 0;
    const T_DIMSE_Message rsp = s->scu.request(s->pc, msg, &attrs, nullptr, QStringLiteral("Creating the film session"));
    requireStatus(rsp.msg.NCreateRSP.DimseStatus, QStringLiteral("The film session"), s->scu.where());
    if (!(rsp.msg.NCreateRSP.opts & O_NCREATE_AFFECTEDSOPINSTANCEUID)) {
        s->scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
        fail(QStringLiteral("%1 did not identify the film session.").arg(s->scu.where()));
    }
    s->sessionUid = rsp.msg.NCreateRSP.AffectedSOPInstanceUID;
    m_session = std::move(s);
}

void FilmPrinter::createFilmBox()
{
    Session &s = *m_session;
    DcmDataset attrs;
    for (unsigned long i = 0; i < m_filmBoxAttributes.item()->card(); ++i)
        attrs.insert(static_cast<DcmElement *>(m_filmBoxAttributes.item()->getElement(i)->clone()), OFTrue);
    DataSet box(nullptr, &attrs);
    box.add(DCM_ImageDisplayFormat, m_displayFormat);
    box.add(DCM_FilmOrientation, m_orientation);
    box.add(DCM_FilmSizeID, m_filmSize);
    DataSet ref;
    ref.add(DCM_ReferencedSOPClassUID, QString::fromLatin1(UID_BasicFilmSessionSOPClass));
    ref.add(DCM_ReferencedSOPInstanceUID, QString::fromLatin1(s.sessionUid.c_str()));
    box.add(DCM_ReferencedFilmSessionSequence, QVariant::fromValue(QList<DataSet>{ref}));

    T_DIMSE_Message msg{};
    msg.CommandField = DIMSE_N_CREATE_RQ;
    auto &rq = msg.msg.NCreateRQ;
    rq.MessageID = s.scu.nextId();
    OFStandard::strlcpy(rq.AffectedSOPClassUID, UID_BasicFilmBoxSOPClass, sizeof rq.AffectedSOPClassUID);
    rq.DataSetType = DIMSE_DATASET_PRESENT;
    DcmDataset *answer = nullptr;
    const T_DIMSE_Message rsp = s.scu.request(s.pc, msg, &attrs, &answer, QStringLiteral("Creating a film box"));
    std::unique_ptr<DcmDataset> answerGuard(answer);
    requireStatus(rsp.msg.NCreateRSP.DimseStatus, QStringLiteral("The film box"), s.scu.where());
    s.filmBoxUid = rsp.msg.NCreateRSP.AffectedSOPInstanceUID;
    s.imageBoxes.clear();
    s.filled = 0;
    DcmSequenceOfItems *seq = nullptr;
    if (answer && answer->findAndGetSequence(DCM_ReferencedImageBoxSequence, seq).good() && seq) {
        for (unsigned long i = 0; i < seq->card(); ++i) {
            OFString uid;
            seq->getItem(i)->findAndGetOFString(DCM_ReferencedSOPInstanceUID, uid);
            s.imageBoxes << uid;
        }
    }
    if (s.imageBoxes.isEmpty())
        fail(QStringLiteral("%1 created a film box without image boxes.").arg(s.scu.where()));
}

void FilmPrinter::printFilm()
{
    Session &s = *m_session;
    if (s.filmBoxUid.empty())
        return;
    T_DIMSE_Message msg{};
    msg.CommandField = DIMSE_N_ACTION_RQ;
    auto &rq = msg.msg.NActionRQ;
    rq.MessageID = s.scu.nextId();
    OFStandard::strlcpy(rq.RequestedSOPClassUID, UID_BasicFilmBoxSOPClass, sizeof rq.RequestedSOPClassUID);
    OFStandard::strlcpy(rq.RequestedSOPInstanceUID, s.filmBoxUid.c_str(), sizeof rq.RequestedSOPInstanceUID);
    rq.ActionTypeID = 1;
    rq.DataSetType = DIMSE_DATASET_NULL;
    const T_DIMSE_Message rsp = s.scu.request(s.pc, msg, nullptr, nullptr, QStringLiteral("Printing the film"));
    requireStatus(rsp.msg.NActionRSP.DimseStatus, QStringLiteral("Printing the film"), s.scu.where());
    ++m_filmsPrinted;

    s.remove(UID_BasicFilmBoxSOPClass, s.filmBoxUid, QStringLiteral("Deleting the film box"));
    s.filmBoxUid.clear();
    s.imageBoxes.clear();
    s.filled = 0;
}

void FilmPrinter::printImage(Image &image, bool startNewFilm, bool printWhenFull)
{
    if (!m_session)
        fail(QStringLiteral("The film printer is not open."));
    Session &s = *m_session;
    if (startNewFilm && s.filled > 0)
        printFilm();
    if (!s.filmBoxUid.empty() && s.filled >= s.imageBoxes.size())
        printFilm();
    if (s.filmBoxUid.empty())
        createFilmBox();

    Picture pic = image.render(0);
    if (!m_colour && pic.samples == 3) {
        PixelBuffer grey(std::size_t(pic.width) * pic.height);
        for (std::size_t i = 0; i < grey.size(); ++i) {
            const std::uint8_t *p = pic.pixels.data() + 3 * i;
            grey[i] = std::uint8_t((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
        }
        pic.pixels.swap(grey);
        pic.samples = 1;
    }
    DcmDataset attrs;
    attrs.putAndInsertUint16(DCM_ImageBoxPosition, Uint16(s.filled + 1));
    auto *item = new DcmItem;
    item->putAndInsertUint16(DCM_SamplesPerPixel, Uint16(pic.samples));
    item->putAndInsertString(DCM_PhotometricInterpretation, pic.samples == 1 ? "MONOCHROME2" : "RGB");
    if (pic.samples == 3)
        item->putAndInsertUint16(DCM_PlanarConfiguration, 0);
    item->putAndInsertUint16(DCM_Rows, Uint16(pic.height));
    item->putAndInsertUint16(DCM_Columns, Uint16(pic.width));
    item->putAndInsertString(DCM_PixelAspectRatio, "1\\1");
    item->putAndInsertUint16(DCM_BitsAllocated, 8);
    item->putAndInsertUint16(DCM_BitsStored, 8);
    item->putAndInsertUint16(DCM_HighBit, 7);
    item->putAndInsertUint16(DCM_PixelRepresentation, 0);
    item->putAndInsertUint8Array(DCM_PixelData, pic.pixels.data(), Uint32(pic.pixels.size()));
    attrs.insertSequenceItem(m_colour ? DCM_BasicColorImageSequence : DCM_BasicGrayscaleImageSequence, item);

    T_DIMSE_Message msg{};
    msg.CommandField = DIMSE_N_SET_RQ;
    auto &rq = msg.msg.NSetRQ;
    rq.MessageID = s.scu.nextId();
    OFStandard::strlcpy(rq.RequestedSOPClassUID,
                        m_colour ? UID_BasicColorImageBoxSOPClass : UID_BasicGrayscaleImageBoxSOPClass,
                        sizeof rq.RequestedSOPClassUID);
    OFStandard::strlcpy(rq.RequestedSOPInstanceUID, s.imageBoxes.at(s.filled).c_str(), sizeof rq.RequestedSOPInstanceUID);
    rq.DataSetType = DIMSE_DATASET_PRESENT;
    const T_DIMSE_Message rsp = s.scu.request(s.pc, msg, &attrs, nullptr, QStringLiteral("Setting an image box"));
    requireStatus(rsp.msg.NSetRSP.DimseStatus, QStringLiteral("The image box"), s.scu.where());
    ++s.filled;
    if (printWhenFull && s.filled >= s.imageBoxes.size())
        printFilm();
}

void FilmPrinter::close()
{
    if (!m_session)
        return;
    // The session ends here whatever happens; its destructor aborts what is left open.
    Session *keep = m_session.get();
    struct Release
    {
        std::unique_ptr<Session> &session;
        ~Release() { session.reset(); }
    } release{m_session};
    if (keep->filled > 0)
        printFilm();
    keep->remove(UID_BasicFilmSessionSOPClass, keep->sessionUid, QStringLiteral("Ending the film session"));
    keep->scu.releaseAssociation();
}

} // namespace orv::dicom
