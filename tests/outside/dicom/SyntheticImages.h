#pragma once

// Images built in memory with known pixel values, for display tests.

#include "outside/dicom/Image.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <QMetaType>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace orv::test {

struct GreySpec
{
    int rows = 64;
    int columns = 64;
    int bits = 16; // 8 or 16 allocated and stored
    bool isSigned = false;
    QString photometric = QStringLiteral("MONOCHROME2");
    QString sopClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.2"); // CT
    double slope = 1;
    double intercept = 0;
    std::optional<std::pair<double, double>> window; // centre, width
    bool voiLutSequence = false;
};

// A greyscale image whose stored value at (x, y) is value(x, y).
inline dicom::Image greyImage(const GreySpec &s, const std::function<int(int, int)> &value)
{
    dicom::Image image;
    DcmDataset *ds = image.fileFormat()->getDataset();
    ds->putAndInsertString(DCM_SOPClassUID, s.sopClass.toLatin1().constData());
    ds->putAndInsertString(DCM_Modality, "CT");
    ds->putAndInsertUint16(DCM_Rows, Uint16(s.rows));
    ds->putAndInsertUint16(DCM_Columns, Uint16(s.columns));
    ds->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds->putAndInsertString(DCM_PhotometricInterpretation, s.photometric.toLatin1().constData());
    ds->putAndInsertUint16(DCM_BitsAllocated, Uint16(s.bits));
    ds->putAndInsertUint16(DCM_BitsStored, Uint16(s.bits));
    ds->putAndInsertUint16(DCM_HighBit, Uint16(s.bits - 1));
    ds->putAndInsertUint16(DCM_PixelRepresentation, s.isSigned ? 1 : 0);
    if (s.slope != 1 || s.intercept != 0) {
        ds->putAndInsertString(DCM_RescaleSlope, QByteArray::number(s.slope).constData());
        ds->putAndInsertString(DCM_RescaleIntercept, QByteArray::number(s.intercept).constData());
    }
    if (s.window) {
        ds->putAndInsertString(DCM_WindowCenter, QByteArray::number(s.window->first).constData());
        ds->putAndInsertString(DCM_WindowWidth, QByteArray::number(s.window->second).constData());
    }
    if (s.voiLutSequence) { // 1024 entries from 0, 12 bits, a square law
        auto *item = new DcmItem;
        const Uint16 descriptor[3] = {1024, 0, 12};
        std::vector<Uint16> lut(1024);
        for (int i = 0; i < 1024; ++i)
            lut[std::size_t(i)] = Uint16(i * i / 256);
        item->putAndInsertUint16Array(DCM_LUTDescriptor, descriptor, 3);
        item->putAndInsertUint16Array(DCM_LUTData, lut.data(), 1024);
        item->putAndInsertString(DCM_LUTExplanation, "SQUARE");
        ds->insertSequenceItem(DCM_VOILUTSequence, item);
    }
    const std::size_t n = std::size_t(s.rows) * s.columns;
    if (s.bits == 8) {
        std::vector<Uint8> px(n + (n & 1));
        for (int y = 0; y < s.rows; ++y)
            for (int x = 0; x < s.columns; ++x)
                px[std::size_t(y) * s.columns + x] = Uint8(value(x, y));
        ds->putAndInsertUint8Array(DCM_PixelData, px.data(), Uint32(px.size()));
    } else {
        std::vector<Uint16> px(n);
        for (int y = 0; y < s.rows; ++y)
            for (int x = 0; x < s.columns; ++x)
                px[std::size_t(y) * s.columns + x] = Uint16(value(x, y));
        ds->putAndInsertUint16Array(DCM_PixelData, px.data(), Uint32(n));
    }
    return image;
}

// A uniform image of one stored value.
inline dicom::Image uniformImage(int value, int size = 64, GreySpec spec = {})
{
    spec.rows = spec.columns = size;
    return greyImage(spec, [value](int, int) { return value; });
}

// An 8-bit PALETTE COLOR image: index i shows as (i, 255 - i, 128) scaled to 16-bit entries.
inline dicom::Image paletteImage(int size, const std::function<int(int, int)> &index)
{
    dicom::Image image;
    DcmDataset *ds = image.fileFormat()->getDataset();
    ds->putAndInsertString(DCM_SOPClassUID, "1.2.840.10008.5.1.4.1.1.7");
    ds->putAndInsertUint16(DCM_Rows, Uint16(size));
    ds->putAndInsertUint16(DCM_Columns, Uint16(size));
    ds->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds->putAndInsertString(DCM_PhotometricInterpretation, "PALETTE COLOR");
    ds->putAndInsertUint16(DCM_BitsAllocated, 8);
    ds->putAndInsertUint16(DCM_BitsStored, 8);
    ds->putAndInsertUint16(DCM_HighBit, 7);
    ds->putAndInsertUint16(DCM_PixelRepresentation, 0);
    const Uint16 descriptor[3] = {256, 0, 16};
    std::vector<Uint16> r(256), g(256), b(256);
    for (int i = 0; i < 256; ++i) {
        r[std::size_t(i)] = Uint16(i * 257);
        g[std::size_t(i)] = Uint16((255 - i) * 257);
        b[std::size_t(i)] = Uint16(128 * 257);
    }
    for (const auto &key : {DCM_RedPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableDescriptor,
                            DCM_BluePaletteColorLookupTableDescriptor})
        ds->putAndInsertUint16Array(key, descriptor, 3);
    ds->putAndInsertUint16Array(DCM_RedPaletteColorLookupTableData, r.data(), 256);
    ds->putAndInsertUint16Array(DCM_GreenPaletteColorLookupTableData, g.data(), 256);
    ds->putAndInsertUint16Array(DCM_BluePaletteColorLookupTableData, b.data(), 256);
    std::vector<Uint8> px(std::size_t(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            px[std::size_t(y) * size + x] = Uint8(index(x, y));
    ds->putAndInsertUint8Array(DCM_PixelData, px.data(), Uint32(px.size()));
    return image;
}

} // namespace orv::test

Q_DECLARE_METATYPE(orv::dicom::Image)
