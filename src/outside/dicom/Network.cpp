#include "Network.h"

#include "Image.h"
#include "InputLimits.h"
#include "Picture.h"
#include "ScuAssociation.h"
#include "SecureTransport.h"
#include "outside/audit/AuditTrail.h"
#include "Toolkit.h"
#include "TransportGuard.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dccodec.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/scp.h>
#include <dcmtk/dcmnet/scu.h>

#include <QElapsedTimer>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <optional>

#include <iconv.h>
#include <dcmtk/dcmnet/dulstruc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <future>
#include <cstdio>
#include <atomic>
#include <thread>

namespace orv::dicom {

namespace {


// Decodes a value with ISO 2022 escape sequences for Japanese (IR 87, IR 159) through the C
// library's ISO-2022-JP-2, which reads the same sequences; nullopt when it cannot.
std::optional<QByteArray> japaneseToUtf8(const char *text)
{
    iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP-2");
    if (cd == iconv_t(-1))
        return std::nullopt;
    QByteArray in(text), out(in.size() * 4 + 16, '\0');
    char *src = in.data(), *dst = out.data();
    size_t left = size_t(in.size()), room = size_t(out.size());
    const bool ok = iconv(cd, &src, &left, &dst, &room) != size_t(-1) && iconv(cd, nullptr, nullptr, &dst, &room) != size_t(-1);
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.truncate(out.size() - qsizetype(room));
    return out;
}

// Calls `f` with every text value of the data set and its items (Specific Character Set aside).
template<typename F>
void forEachText(DcmDataset *ds, F &&f)
{
    DcmStack stack;
    while (ds->nextObject(stack, OFTrue).good()) {
        auto *obj = stack.top();
        if (!obj->isLeaf() || !static_cast<DcmElement *>(obj)->isaString() || obj->getTag() == DCM_SpecificCharacterSet)
            continue;
        auto *element = static_cast<DcmElement *>(obj);
        char *text = nullptr;
        if (element->getString(text).good() && text)
            f(element, text);
    }
}

// Removes ISO 2022 escape sequences left in text already converted to UTF-8 (some providers
// convert the characters but keep the designations).
void stripEscapes(DcmDataset *ds)
{
    forEachText(ds, [](DcmElement *element, const char *text) {
        if (!std::strchr(text, '\x1b'))
            return;
        QByteArray clean;
        for (const char *p = text; *p; ++p) {
            if (*p != '\x1b') {
                clean += *p;
                continue;
            }
            while (p[1] >= 0x20 && p[1] <= 0x2F)
                ++p;
            if (p[1] >= 0x30 && p[1] <= 0x7E)
                ++p;
        }
        element->putString(clean.constData());
    });
}

// Converts text to UTF-8. An answer that names no character set but is not valid UTF-8 is
// taken as Latin-1 (providers answer in their own set unless the query asked for it). Japanese
// in ISO 2022, which the toolkit's conversion through the C library refuses, is decoded value by
// value.
void toUtf8(DcmDataset *ds)
{
    if (ds->tagExists(DCM_SpecificCharacterSet)) {
        if (ds->convertToUTF8().good()) {
            stripEscapes(ds);
            return;
        }
        OFString sets;
        ds->findAndGetOFStringArray(DCM_SpecificCharacterSet, sets);
        if (sets.find("ISO 2022 IR 87") == OFString_npos && sets.find("ISO 2022 IR 159") == OFString_npos)
            return;
        forEachText(ds, [](DcmElement *element, const char *text) {
            if (!std::strchr(text, '\x1b'))
                return;
            if (const auto utf8 = japaneseToUtf8(text))
                element->putString(utf8->constData());
        });
        ds->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        return;
    }
    DcmStack stack;
    bool valid = true;
    while (valid && ds->nextObject(stack, OFTrue).good()) {
        auto *obj = stack.top();
        if (!obj->isLeaf() || !static_cast<DcmElement *>(obj)->isaString())
            continue;
        char *text = nullptr;
        if (static_cast<DcmElement *>(obj)->getString(text).good() && text) {
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString unused = decoder(QByteArrayView(text));
            valid = !decoder.hasError();
        }
    }
    if (!valid)
        ds->convertCharacterSet("ISO_IR 100", "ISO_IR 192", 0, OFTrue);
}

QString modalityOf(const DataSet &answer)
{
    const QString own = answer.text(DCM_Modality);
    if (!own.isEmpty())
        return own;
    const QList<DataSet> steps = answer.attribute(DCM_ScheduledProcedureStepSequence).items;
    return steps.isEmpty() ? QString() : steps.first().text(DCM_Modality);
}

} // namespace

// ---------------------------------------------------------------------------------------------

StoreScu::StoreScu(const QString &host, int port, const QString &callingAe, const QString &calledAe)
    : m_peer{host, port, callingAe, calledAe, {}}
{}

int StoreScu::send(Image &image)
{
    image.complete();
    image.requireDecodable();
    DcmDataset *ds = image.fileFormat()->getDataset();
    OFString sopClass, sopInstance;
    ds->findAndGetOFString(DCM_SOPClassUID, sopClass);
    ds->findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    if (sopClass.empty() || sopInstance.empty())
        fail(QStringLiteral("The image has no SOP class or instance UID and cannot be sent."));

    Scu scu(m_peer);
    scu.setDatasetConversionMode(OFTrue);
    const E_TransferSyntax original = ds->getOriginalXfer();
    const DcmXfer orig(original);
    const bool encapsulated = original != EXS_Unknown && orig.isEncapsulated();
    if (encapsulated) {
        OFList<OFString> own;
        own.push_back(orig.getXferID());
        scu.addPresentationContext(sopClass, own);
    }
    // Pixel data the toolkit cannot decode (a video stream) goes only as it is.
    if (!encapsulated || DcmCodecList::canChangeCoding(original, EXS_LittleEndianExplicit))
        scu.addPresentationContext(sopClass, uncompressed());
    // Verification keeps the association up when the peer refuses only the SOP class, so that
    // the refusal can be told apart from a rejected association.
    scu.addPresentationContext(UID_VerificationSOPClass, uncompressed());
    scu.connect();

    T_ASC_PresentationContextID pc = 0;
    if (encapsulated)
        pc = scu.findPresentationContextID(sopClass, orig.getXferID());
    if (pc == 0)
        pc = scu.findPresentationContextID(sopClass, UID_LittleEndianExplicitTransferSyntax);
    if (pc == 0)
        pc = scu.findPresentationContextID(sopClass, UID_LittleEndianImplicitTransferSyntax);
    if (pc == 0) {
        scu.closeAssociation(DCMSCU_RELEASE_ASSOCIATION);
        const char *name = dcmFindNameOfUID(sopClass.c_str(), sopClass.c_str());
        // Carries the status the standard gives a refused SOP class, so callers can go on with the next image.
        fail(QStringLiteral("%1 accepts no presentation context for %2.").arg(scu.where(), QString::fromLatin1(name)), 0x0122);
    }
    Uint16 status = 0;
    image.withoutDirectoryAttributes([&] { scu.require(scu.sendSTORERequest(pc, OFFilename(), ds, status), QStringLiteral("Sending")); });
    scu.releaseAssociation();
    return status;
}

// ---------------------------------------------------------------------------------------------

WorklistScu::WorklistScu(const QString &host, int port, const QString &calledAe, const QString &callingAe)
    : m_peer{host, port, callingAe, calledAe, {}}
{}

QList<DataSet> WorklistScu::run(const DataSet &identifier)
{
    QList<DataSet> answers;
    run(identifier, [&](const DataSet &a) { answers << a; });
    return answers;
}

bool WorklistScu::run(const DataSet &identifier, const std::function<void(const DataSet &)> &answer,
                      const std::function<bool()> &cancelled)
{
    const auto stop = [&] { return cancelled && cancelled(); };
    Scu scu(m_peer);
    scu.addPresentationContext(UID_FINDModalityWorklistInformationModel, uncompressed());
    scu.connect();
    const T_ASC_PresentationContextID pc = scu.findAnyPresentationContextID(UID_FINDModalityWorklistInformationModel,
                                                                           UID_LittleEndianExplicitTransferSyntax);
    if (pc == 0) {
        scu.closeAssociation(DCMSCU_RELEASE_ASSOCIATION);
        fail(QStringLiteral("%1 offers no modality worklist.").arg(scu.where()));
    }
    DcmDataset query;
    for (unsigned long i = 0; i < identifier.item()->card(); ++i)
        query.insert(static_cast<DcmElement *>(identifier.item()->getElement(i)->clone()), OFTrue);

    const QString what = QStringLiteral("The worklist query");
    T_DIMSE_Message msg{};
    msg.CommandField = DIMSE_C_FIND_RQ;
    auto &rq = msg.msg.CFindRQ;
    const Uint16 id = scu.nextId();
    rq.MessageID = id;
    OFStandard::strlcpy(rq.AffectedSOPClassUID, UID_FINDModalityWorklistInformationModel, sizeof rq.AffectedSOPClassUID);
    rq.DataSetType = DIMSE_DATASET_PRESENT;
    rq.Priority = DIMSE_PRIORITY_MEDIUM;
    scu.require(scu.sendDIMSEMessage(pc, &msg, &query), what);

    // Responses are awaited in short turns, so that a cancel is sent while the provider is
    // still searching; the provider is given the network timeout between two responses.
    const int timeout = networkTimeout();
    QElapsedTimer silence;
    silence.start();
    bool cancelSent = false;
    Uint16 status = 0;
    for (;;) {
        if (!cancelSent && stop()) {
            scu.require(scu.sendCANCELRequest(pc), what);
            cancelSent = true;
            silence.restart();
        }
        scu.setDIMSETimeout(1);
        T_DIMSE_Message rsp;
        T_ASC_PresentationContextID rpc = 0;
        DcmDataset *detail = nullptr;
        const OFCondition cond = scu.receiveDIMSECommand(&rpc, &rsp, &detail);
        delete detail;
        scu.setDIMSETimeout(Uint32(timeout));
        if (cond == DIMSE_NODATAAVAILABLE) {
            scu.requireNoFault();
            if (silence.elapsed() < qint64(timeout) * 1000)
                continue;
            scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
            if (cancelSent)
                return false;
            fail(QStringLiteral("%1 did not answer the worklist query within %2 seconds.").arg(scu.where()).arg(timeout));
        }
        // A provider may end a cancelled query by aborting the association: the query is over.
        if (cancelSent && cond.bad()) {
            scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
            return false;
        }
        scu.require(cond, what);
        if (rsp.CommandField != DIMSE_C_FIND_RSP || rsp.msg.CFindRSP.MessageIDBeingRespondedTo != id)
            scu.require(makeOFCondition(OFM_dcmnet, DIMSEC_UNEXPECTEDRESPONSE, OF_error, "Unexpected response"), what);
        silence.restart();
        status = rsp.msg.CFindRSP.DimseStatus;
        const bool pending = status == STATUS_Pending || status == STATUS_FIND_Pending_WarningUnsupportedOptionalKeys;
        if (rsp.msg.CFindRSP.DataSetType != DIMSE_DATASET_NULL) {
            DcmDataset *ds = nullptr;
            const OFCondition received = scu.receiveDIMSEDataset(&rpc, &ds);
            std::unique_ptr<DcmDataset> owned(ds);
            if (cancelSent && received.bad()) {
                scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
                return false;
            }
            scu.require(received, what);
            if (pending && !cancelSent && owned) {
                toUtf8(owned.get()); // answers are handed on as UTF-8 whatever the provider used
                auto item = std::shared_ptr<DcmItem>(new DcmItem(*owned));
                DcmItem *raw = item.get();
                answer(DataSet(std::move(item), raw));
            }
        }
        if (!pending)
            break;
    }
    scu.releaseAssociation();
    if (cancelSent)
        return false;
    if (status != STATUS_Success)
        requireStatus(status, what, scu.where());
    return true;
}

DataSet WorklistScu::standardIdentifier(const QString &patientName, const QString &patientId, const QString &studyDate,
                                       const QString &modality, const QString &accession, const QString &branch)
{
    DataSet id;
    id.setMatchingKeys(true);
    // Providers that convert answer in UTF-8 (the others answer in the set they name).
    id.add(DCM_SpecificCharacterSet, QStringLiteral("ISO_IR 192"));
    id.add(DCM_PatientName, patientName + QLatin1Char('*'));
    id.add(DCM_StudyDate, studyDate);
    id.add(DCM_AccessionNumber, accession);
    id.add(DCM_InstitutionName, branch);
    id.add(DCM_Modality, modality);
    id.add(DCM_PatientSex, QString());
    id.add(DCM_ReferringPhysicianName, QString());
    id.add(DCM_RequestedProcedureID, QString());
    id.add(DCM_RequestedProcedureDescription, QString());
    id.add(DCM_PatientID, patientId);
    id.add(DCM_PatientBirthDate, QString());
    id.add(DCM_StudyInstanceUID, QString());
    DataSet step;
    step.setMatchingKeys(true);
    step.add(DCM_ScheduledProcedureStepStartDate, studyDate);
    step.add(DCM_ScheduledProcedureStepStartTime, QString());
    // Return keys beyond the grid: where most providers keep the modality, and the identity a
    // new transaction takes from its entry.
    step.add(DCM_Modality, QString());
    step.add(DCM_ScheduledProcedureStepID, QString());
    id.add(DCM_ScheduledProcedureStepSequence, QVariant::fromValue(QList<DataSet>{step}));
    return id;
}

QStringList WorklistScu::gridRow(const DataSet &answer)
{
    return {answer.text(DCM_AccessionNumber), answer.text(DCM_PatientID), answer.text(DCM_PatientName),
            answer.patientSex(),         answer.text(DCM_PatientBirthDate), answer.text(DCM_ReferringPhysicianName),
            modalityOf(answer),        answer.text(DCM_RequestedProcedureID), answer.text(DCM_RequestedProcedureDescription),
            answer.text(DCM_StudyDate), QString(),                   QString()};
}

// ---------------------------------------------------------------------------------------------

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
    s->scu.addPresentationContext(meta, uncompressed());
    s->scu.connect();
    s->pc = s->scu.findAnyPresentationContextID(meta, UID_LittleEndianExplicitTransferSyntax);
    if (s->pc == 0) {
        s->scu.closeAssociation(DCMSCU_RELEASE_ASSOCIATION);
        fail(QStringLiteral("%1 does not offer %2 print management.").arg(s->scu.where(), m_colour ? QStringLiteral("colour") : QStringLiteral("greyscale")));
    }
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
    T_DIMSE_Message rsp = s.scu.request(s.pc, msg, nullptr, nullptr, QStringLiteral("Printing the film"));
    requireStatus(rsp.msg.NActionRSP.DimseStatus, QStringLiteral("Printing the film"), s.scu.where());
    ++m_filmsPrinted;

    T_DIMSE_Message del{};
    del.CommandField = DIMSE_N_DELETE_RQ;
    auto &dq = del.msg.NDeleteRQ;
    dq.MessageID = s.scu.nextId();
    OFStandard::strlcpy(dq.RequestedSOPClassUID, UID_BasicFilmBoxSOPClass, sizeof dq.RequestedSOPClassUID);
    OFStandard::strlcpy(dq.RequestedSOPInstanceUID, s.filmBoxUid.c_str(), sizeof dq.RequestedSOPInstanceUID);
    dq.DataSetType = DIMSE_DATASET_NULL;
    rsp = s.scu.request(s.pc, del, nullptr, nullptr, QStringLiteral("Deleting the film box"));
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
    T_DIMSE_Message del{};
    del.CommandField = DIMSE_N_DELETE_RQ;
    auto &dq = del.msg.NDeleteRQ;
    dq.MessageID = keep->scu.nextId();
    OFStandard::strlcpy(dq.RequestedSOPClassUID, UID_BasicFilmSessionSOPClass, sizeof dq.RequestedSOPClassUID);
    OFStandard::strlcpy(dq.RequestedSOPInstanceUID, keep->sessionUid.c_str(), sizeof dq.RequestedSOPInstanceUID);
    dq.DataSetType = DIMSE_DATASET_NULL;
    keep->scu.request(keep->pc, del, nullptr, nullptr, QStringLiteral("Ending the film session"));
    keep->scu.releaseAssociation();
}

// ---------------------------------------------------------------------------------------------

struct StoreAssociation::Scu : public dicom::Scu
{
    using dicom::Scu::Scu;
};

StoreAssociation::StoreAssociation(const Peer &peer) : m_peer(peer) {}

StoreAssociation::Identity StoreAssociation::writeForSending(Image &image, const QString &path)
{
    image.complete();
    image.requireDecodable();
    DcmFileFormat *file = image.fileFormat();
    DcmDataset *ds = file->getDataset();
    OFString cls, inst;
    ds->findAndGetOFString(DCM_SOPClassUID, cls);
    ds->findAndGetOFString(DCM_SOPInstanceUID, inst);
    if (cls.empty() || inst.empty())
        fail(QStringLiteral("The image has no SOP class or instance UID and cannot be sent."));
    const DcmXfer original(ds->getOriginalXfer());
    const E_TransferSyntax xfer = ds->getOriginalXfer() != EXS_Unknown && original.isEncapsulated() ? ds->getOriginalXfer()
                                                                                                     : EXS_LittleEndianExplicit;
    const QString part = path + QStringLiteral(".part");
    OFCondition cond = EC_Normal;
    image.withoutDirectoryAttributes([&] {
        // A copy, so that the image's own meta information stays as it was.
        DcmFileFormat copy(*file);
        copy.getMetaInfo()->clear();
        cond = copy.saveFile(OFFilename(part.toLocal8Bit().constData()), xfer, EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0,
                             EWM_createNewMeta);
    });
    if (cond.bad() || std::rename(part.toLocal8Bit().constData(), path.toLocal8Bit().constData()) != 0) {
        std::remove(part.toLocal8Bit().constData());
        fail(QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(cond.text())));
    }
    OFString series;
    ds->findAndGetOFString(DCM_SeriesInstanceUID, series);
    return {QString::fromLatin1(cls.c_str()), QString::fromLatin1(inst.c_str()), QString::fromLatin1(DcmXfer(xfer).getXferID()), QString(),
            QString::fromLatin1(series.c_str())};
}

StoreAssociation::Identity StoreAssociation::identify(const QString &path)
{
    initialise();
    requireSaneNesting(path);
    DcmFileFormat file;
    const OFCondition cond = file.loadFile(OFFilename(path.toLocal8Bit().constData()), EXS_Unknown, EGL_noChange, 1024);
    if (cond.bad())
        fail(QStringLiteral("Cannot read %1: %2").arg(path, QString::fromLocal8Bit(cond.text())));
    OFString cls, inst, xfer, study, series;
    file.getDataset()->findAndGetOFString(DCM_SeriesInstanceUID, series);
    file.getDataset()->findAndGetOFString(DCM_SOPClassUID, cls);
    file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, inst);
    file.getDataset()->findAndGetOFString(DCM_StudyInstanceUID, study);
    file.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, xfer);
    if (xfer.empty())
        xfer = DcmXfer(file.getDataset()->getOriginalXfer()).getXferID();
    if (cls.empty() || inst.empty())
        fail(QStringLiteral("%1 has no SOP class or instance UID and cannot be sent.").arg(path));
    return {QString::fromLatin1(cls.c_str()), QString::fromLatin1(inst.c_str()), QString::fromLatin1(xfer.c_str()),
            QString::fromLatin1(study.c_str()), QString::fromLatin1(series.c_str())};
}

StoreAssociation::~StoreAssociation() { close(); }

void StoreAssociation::open(const QList<Context> &contexts)
{
    close();
    initialiseCodecs(); // a compressed file the peer takes only uncompressed is decoded on the way
    auto scu = std::make_unique<Scu>(m_peer);
    scu->setDatasetConversionMode(OFTrue);
    QList<QString> plain; // SOP classes proposed uncompressed
    QList<std::pair<QString, QString>> own;
    for (const Context &c : contexts) {
        const DcmXfer x(c.transferSyntax.toLatin1().constData());
        if (x.isEncapsulated() && !own.contains({c.sopClass, c.transferSyntax})) {
            own.append({c.sopClass, c.transferSyntax});
            OFList<OFString> list;
            list.push_back(latin(c.transferSyntax));
            scu->addPresentationContext(latin(c.sopClass), list);
        }
        if (!plain.contains(c.sopClass))
            plain << c.sopClass;
    }
    for (const QString &sopClass : plain)
        scu->addPresentationContext(latin(sopClass), uncompressed());
    scu->addPresentationContext(UID_VerificationSOPClass, uncompressed());
    scu->connect();
    m_scu = std::move(scu);
}

bool StoreAssociation::isOpen() const { return m_scu && m_scu->isConnected(); }

int StoreAssociation::send(const QString &path, const QString &sopClass, const QString &transferSyntax)
{
    if (!isOpen())
        fail(QStringLiteral("The association with %1:%2 (%3) is closed.").arg(m_peer.host).arg(m_peer.port).arg(m_peer.calledAe));
    const OFString cls = latin(sopClass);
    const DcmXfer x(transferSyntax.toLatin1().constData());
    T_ASC_PresentationContextID pc = 0;
    if (x.isEncapsulated())
        pc = m_scu->findPresentationContextID(cls, latin(transferSyntax));
    if (pc == 0)
        pc = m_scu->findPresentationContextID(cls, UID_LittleEndianExplicitTransferSyntax);
    if (pc == 0)
        pc = m_scu->findPresentationContextID(cls, UID_LittleEndianImplicitTransferSyntax);
    if (pc == 0) {
        const char *name = dcmFindNameOfUID(cls.c_str(), cls.c_str());
        fail(QStringLiteral("%1 accepts no presentation context for %2.").arg(m_scu->where(), QString::fromLatin1(name)), 0x0122);
    }
    requireSaneNesting(path);
    DcmFileFormat file;
    const OFCondition read = file.loadFile(OFFilename(path.toLocal8Bit().constData()));
    if (read.bad())
        fail(QStringLiteral("Cannot read %1: %2").arg(path, QString::fromLocal8Bit(read.text())));
    Uint16 status = 0;
    const OFCondition cond = m_scu->sendSTORERequest(pc, OFFilename(), file.getDataset(), status);
    if (cond.bad()) {
        m_scu->requireNoFault();
        m_scu->closeAssociation(DCMSCU_ABORT_ASSOCIATION);
        fail(QStringLiteral("Sending with %1 failed: %2").arg(m_scu->where(), QString::fromLocal8Bit(cond.text())), cond.code());
    }
    return status;
}

void StoreAssociation::close()
{
    if (!m_scu)
        return;
    if (m_scu->isConnected() && m_scu->releaseAssociation().bad())
        m_scu->closeAssociation(DCMSCU_ABORT_ASSOCIATION);
    m_scu.reset();
}

// ---------------------------------------------------------------------------------------------

namespace {

constexpr const char *kCommitmentInstance = "1.2.840.10008.1.20.1.1";

void addItems(DcmDataset &ds, const DcmTagKey &sequence, const QList<CommitItem> &items)
{
    for (const CommitItem &i : items) {
        DcmItem *item = nullptr;
        ds.findOrCreateSequenceItem(sequence, item, -2);
        if (!item)
            continue;
        item->putAndInsertString(DCM_ReferencedSOPClassUID, latin(i.sopClass).c_str());
        item->putAndInsertString(DCM_ReferencedSOPInstanceUID, latin(i.sopInstance).c_str());
    }
}

QList<CommitItem> readItems(DcmDataset &ds, const DcmTagKey &sequence)
{
    QList<CommitItem> out;
    DcmSequenceOfItems *seq = nullptr;
    if (ds.findAndGetSequence(sequence, seq).bad() || !seq)
        return out;
    for (unsigned long n = 0; n < seq->card(); ++n) {
        DcmItem *item = seq->getItem(n);
        OFString cls, inst;
        Uint16 reason = 0;
        item->findAndGetOFString(DCM_ReferencedSOPClassUID, cls);
        item->findAndGetOFString(DCM_ReferencedSOPInstanceUID, inst);
        item->findAndGetUint16(DCM_FailureReason, reason);
        out << CommitItem{QString::fromLatin1(cls.c_str()), QString::fromLatin1(inst.c_str()), int(reason)};
    }
    return out;
}

CommitAnswer readAnswer(DcmDataset &ds, Uint16 eventType)
{
    CommitAnswer a;
    OFString uid;
    ds.findAndGetOFString(DCM_TransactionUID, uid);
    a.transactionUid = QString::fromLatin1(uid.c_str());
    a.committed = readItems(ds, DCM_ReferencedSOPSequence);
    a.failed = readItems(ds, DCM_FailedSOPSequence);
    // Event 2 ("failures exist") without a reason per object still fails every object it names.
    if (eventType == 2)
        for (CommitItem &i : a.failed)
            if (i.failureReason == 0)
                i.failureReason = 0x0110;
    return a;
}

} // namespace

bool CommitmentScu::request(const QString &transactionUid, const QList<CommitItem> &items, int waitSeconds, CommitAnswer *answer)
{
    Scu scu(m_peer);
    scu.addPresentationContext(kStorageCommitmentClass, uncompressed());
    scu.connect();
    const T_ASC_PresentationContextID pc = scu.findAnyPresentationContextID(kStorageCommitmentClass, UID_LittleEndianExplicitTransferSyntax);
    if (pc == 0) {
        scu.closeAssociation(DCMSCU_RELEASE_ASSOCIATION);
        fail(QStringLiteral("%1 does not take storage commitment requests.").arg(scu.where()));
    }
    DcmDataset ds;
    ds.putAndInsertString(DCM_TransactionUID, latin(transactionUid).c_str());
    addItems(ds, DCM_ReferencedSOPSequence, items);
    Uint16 status = 0;
    scu.require(scu.sendACTIONRequest(pc, kCommitmentInstance, 1, &ds, status), QStringLiteral("The storage commitment request"));
    if (status != STATUS_Success) {
        scu.releaseAssociation();
        requireStatus(status, QStringLiteral("The storage commitment request"), scu.where());
    }
    bool answered = false;
    if (waitSeconds > 0) {
        DcmDataset *report = nullptr;
        Uint16 eventType = 0;
        const OFCondition cond = scu.handleEVENTREPORTRequest(report, eventType, waitSeconds);
        if (cond.good() && report) {
            CommitAnswer a = readAnswer(*report, eventType);
            answered = a.transactionUid == transactionUid;
            if (answered && answer)
                *answer = a;
        }
        delete report;
    }
    if (scu.isConnected())
        scu.releaseAssociation();
    return answered;
}

// ---------------------------------------------------------------------------------------------

struct CommitmentListener::Scp : public DcmSCP
{
    Scp(const ListenerSettings &settings, Handler handler) : m_settings(settings), m_handler(std::move(handler)) {}

    OFCondition handleIncomingCommand(T_DIMSE_Message *msg, const DcmPresentationContextInfo &info) override
    {
        if (msg->CommandField != DIMSE_N_EVENT_REPORT_RQ)
            return DcmSCP::handleIncomingCommand(msg, info);
        DcmDataset *ds = nullptr;
        Uint16 eventType = 0;
        const OFCondition cond = handleEVENTREPORTRequest(msg->msg.NEventReportRQ, info.presentationContextID, ds, eventType);
        delete ds;
        return cond;
    }

    Uint16 checkEVENTREPORTRequest(T_DIMSE_N_EventReportRQ &rq, DcmDataset *ds) override
    {
        if (!ds || std::string(rq.AffectedSOPClassUID) != kStorageCommitmentClass)
            return STATUS_N_NoSuchSOPClass;
        try {
            m_handler(readAnswer(*ds, rq.EventTypeID));
        } catch (...) {
            return STATUS_N_ProcessingFailure;
        }
        return STATUS_Success;
    }

    OFBool checkCalledAETitleAccepted(const OFString &calledAe) override
    {
        const QString called = QString::fromLatin1(calledAe.c_str()).trimmed();
        if (called == m_settings.aeTitle.trimmed())
            return OFTrue;
        refused(QStringLiteral("An association to the called AE title \"%1\" was rejected by the storage commitment listener.").arg(called));
        return OFFalse;
    }

    OFBool checkCallingAETitleAccepted(const OFString &callingAe) override
    {
        const QString calling = QString::fromLatin1(callingAe.c_str()).trimmed();
        if (std::any_of(m_settings.callingAeTitles.begin(), m_settings.callingAeTitles.end(),
                        [&](const QString &ae) { return ae.trimmed() == calling; }))
            return OFTrue;
        refused(QStringLiteral("An association from the calling AE title \"%1\" was rejected by the storage commitment listener.").arg(calling));
        return OFFalse;
    }

    // A refused association is a security alert of the audit trail.
    void refused(const QString &why)
    {
        audit::AuditTrail::instance().securityAlert(QString::fromLatin1(getPeerIP().c_str()), QString::fromLatin1(getPeerAETitle().c_str()), why);
    }

    // The toolkit opens its port on every interface; before the first association is taken the
    // socket is replaced, under the same descriptor, by one opened on the chosen address.
    OFCondition waitForAssociationRQ(T_ASC_Network *network) override
    {
        if (!m_bound) {
            m_bound = true;
            m_bindResult.set_value(bind(network));
        }
        if (m_secure)
            m_secure->beginHandshake();
        const OFCondition cond = DcmSCP::waitForAssociationRQ(network);
        if (m_secure && cond.bad() && cond != DUL_NOASSOCIATIONREQUEST && m_secure->handshakeFailed(cond))
            audit::AuditTrail::instance().securityAlert(QString(), QString(), m_secure->handshakeFailure(cond, QStringLiteral("a peer of the storage commitment listener")));
        return cond;
    }

    QString bind(T_ASC_Network *network)
    {
        if (m_settings.bindAddress.trimmed().isEmpty())
            return {};
        const QString where = QStringLiteral("%1:%2").arg(m_settings.bindAddress).arg(m_settings.port);
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(m_settings.bindAddress.trimmed().toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
            return QStringLiteral("Cannot listen on %1: the address does not resolve to an IPv4 address of this computer.").arg(where);
        sockaddr_in address = *reinterpret_cast<sockaddr_in *>(found->ai_addr);
        freeaddrinfo(found);
        address.sin_port = htons(quint16(m_settings.port));
        auto *key = static_cast<PRIVATE_NETWORKKEY *>(network->network);
        const int listening = int(key->networkSpecific.TCP.listenSocket);
        const int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int reuse = 1;
        bool ok = fresh >= 0 && ::setsockopt(fresh, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0
                  && ::dup2(fresh, listening) == listening; // closes the toolkit's socket in the same step
        if (fresh >= 0)
            ::close(fresh);
        ok = ok && ::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(listening, 16) == 0;
        if (!ok)
            return QStringLiteral("Cannot listen on %1: %2").arg(where, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }

    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }
    OFBool stopAfterCurrentAssociation() override { return m_stop.load(); }

    ListenerSettings m_settings;
    Handler m_handler;
    std::shared_ptr<SecureTransport> m_secure;
    bool m_bound = false;
    std::promise<QString> m_bindResult;
    std::atomic_bool m_stop{false};
    std::thread m_thread;
};

CommitmentListener::CommitmentListener(const ListenerSettings &settings, Handler onAnswer)
    : m_settings(settings), m_onAnswer(std::move(onAnswer))
{}

CommitmentListener::~CommitmentListener()
{
    if (!m_scp)
        return;
    m_scp->m_stop = true;
    if (m_scp->m_thread.joinable())
        m_scp->m_thread.join();
}

void CommitmentListener::start()
{
    initialise();
    const int port = m_settings.port;
    if (port <= 0 || port > 65535)
        fail(QStringLiteral("%1 is not a valid port number to listen on.").arg(port));
    auto scp = std::make_unique<Scp>(m_settings, m_onAnswer);
    if (m_settings.tls.enabled)
        scp->m_secure = SecureTransport::forSettings(m_settings.tls, SecureTransport::Role::Acceptor);
    DcmSCPConfig &cfg = scp->getConfig();
    cfg.setPort(Uint16(port));
    cfg.setAETitle(latin(m_settings.aeTitle));
    cfg.setRespondWithCalledAETitle(OFTrue);
    cfg.setConnectionBlockingMode(DUL_NOBLOCK);
    cfg.setConnectionTimeout(1);
    cfg.setACSETimeout(Uint32(networkTimeout()));
    cfg.setDIMSETimeout(Uint32(networkTimeout()));
    cfg.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    cfg.setTransportLayer(scp->m_secure ? scp->m_secure->layer() : plainTransport());
    cfg.addPresentationContext(kStorageCommitmentClass, uncompressed());
    cfg.addPresentationContext(UID_VerificationSOPClass, uncompressed());
    const OFCondition opened = scp->openListenPort();
    if (opened.bad())
        fail(QStringLiteral("Cannot listen for storage commitment answers on port %1: %2").arg(port).arg(QString::fromLocal8Bit(opened.text())),
             opened.code());
    Scp *raw = scp.get();
    std::future<QString> bound = raw->m_bindResult.get_future();
    raw->m_thread = std::thread([raw] {
        raw->acceptAssociations();
        if (!raw->m_bound) {
            raw->m_bound = true;
            raw->m_bindResult.set_value(QStringLiteral("The storage commitment listener stopped at once."));
        }
    });
    m_scp = std::move(scp);
    const QString refused = bound.get();
    if (!refused.isEmpty()) {
        m_scp->m_stop = true;
        m_scp->m_thread.join();
        m_scp.reset();
        fail(refused);
    }
}

} // namespace orv::dicom
