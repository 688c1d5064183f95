#include "DicomFile.h"

#include "InputLimits.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcstack.h>

#include <QFile>
#include <QFileInfo>

#include <new>

namespace orv::dicom {

namespace {

bool holdsPrivateAttributes(DcmDataset *ds)
{
    DcmStack stack;
    while (ds->nextObject(stack, OFTrue).good())
        if (stack.top()->getGTag() & 1)
            return true;
    return false;
}

} // namespace

std::shared_ptr<DcmFileFormat> readDicomFile(const QString &path)
{
    initialise();
    const QFileInfo info(path);
    if (info.isDir())
        fail(QStringLiteral("Cannot read %1: it is a folder, not a file.").arg(path));
    if (!info.exists())
        fail(QStringLiteral("Cannot read %1: the file does not exist.").arg(path));
    if (!info.isFile())
        fail(QStringLiteral("Cannot read %1: it is not a regular file.").arg(path));
    if (!info.isReadable())
        fail(QStringLiteral("Cannot read %1: permission denied.").arg(path));
    if (info.size() == 0)
        fail(QStringLiteral("Cannot read %1: the file is empty.").arg(path));
    requireSaneNesting(path);
    auto file = std::make_shared<DcmFileFormat>();
    try {
        const auto load = [&] {
            OFCondition cond = file->loadFile(OFFilename(QFile::encodeName(path).constData()));
            if (cond.good())
                cond = file->loadAllDataIntoMemory();
            if (cond.bad())
                fail(QStringLiteral("Cannot read %1 as a DICOM file: %2").arg(path, QString::fromLocal8Bit(cond.text())),
                     cond.code());
        };
        load();
        // Private attributes read before their dictionary was loaded may lack their VR and name.
        if (holdsPrivateAttributes(file->getDataset()) && loadDeferredPrivateDictionary()) {
            file = std::make_shared<DcmFileFormat>();
            load();
        }
    } catch (const std::bad_alloc &) {
        fail(QStringLiteral("Cannot read %1: it declares more data than memory can hold.").arg(path));
    }
    if (file->getDataset()->card() == 0)
        fail(QStringLiteral("Cannot read %1: the file holds no DICOM attributes.").arg(path));
    return file;
}

DataSet dataSetOf(const std::shared_ptr<DcmFileFormat> &file, std::shared_ptr<ValueChanges> changes)
{
    DataSet ds(file, file->getDataset(), changes ? std::move(changes) : std::make_shared<ValueChanges>());
    OFString charset;
    file->getDataset()->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    ds.setLatin1(charset == "ISO_IR 100");
    return ds;
}

} // namespace orv::dicom
