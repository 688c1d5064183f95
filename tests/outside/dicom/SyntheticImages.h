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

// The image attributes every synthetic image shares.
inline DcmDataset *pixelModule(dicom::Image &image, const char *sopClass, int rows, int columns, const char *photometric,
                               int bits, bool isSigned)
{
    DcmDataset *ds = image.fileFormat()->getDataset();
    ds->putAndInsertString(DCM_SOPClassUID, sopClass);
    ds->putAndInsertUint16(DCM_Rows, Uint16(rows));
    ds->putAndInsertUint16(DCM_Columns, Uint16(columns));
    ds->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds->putAndInsertString(DCM_PhotometricInterpretation, photometric);
    ds->putAndInsertUint16(DCM_BitsAllocated, Uint16(bits));
    ds->putAndInsertUint16(DCM_BitsStored, Uint16(bits));
    ds->putAndInsertUint16(DCM_HighBit, Uint16(bits - 1));
    ds->putAndInsertUint16(DCM_PixelRepresentation, isSigned ? 1 : 0);
    return ds;
}

template<typename T>
void putPixels(DcmDataset *ds, int rows, int columns, const std::function<int(int, int)> &value)
{
    std::vector<T> px(std::size_t(rows) * columns + (sizeof(T) == 1 ? 1 : 0));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            px[std::size_t(y) * columns + x] = T(value(x, y));
    if constexpr (sizeof(T) == 1)
        ds->putAndInsertUint8Array(DCM_PixelData, px.data(), Uint32(px.size() & ~std::size_t(1)));
    else
        ds->putAndInsertUint16Array(DCM_PixelData, px.data(), Uint32(px.size()));
}

// A greyscale image whose stored value at (x, y) is value(x, y).
inline dicom::Image greyImage(const GreySpec &s, const std::function<int(int, int)> &value)
{
    dicom::Image image;
    DcmDataset *ds = pixelModule(image, s.sopClass.toLatin1().constData(), s.rows, s.columns,
                                 s.photometric.toLatin1().constData(), s.bits, s.isSigned);
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
        ds->insertSequenceItem(DCM_VOILUTSequence, item);
    }
    if (s.bits == 8)
        putPixels<Uint8>(ds, s.rows, s.columns, value);
    else
        putPixels<Uint16>(ds, s.rows, s.columns, value);
    return image;
}

// A uniform image of one stored value.
inline dicom::Image uniformImage(int value, int size = 64, GreySpec spec = {})
{
    spec.rows = spec.columns = size;
    return greyImage(spec, [value](int, int) { return value; });
}

// An 8-bit PALETTE COLOR image: index i shows as (i, 255 - i, 128).
inline dicom::Image paletteImage(int size, const std::function<int(int, int)> &index)
{
    dicom::Image image;
    DcmDataset *ds = pixelModule(image, "1.2.840.10008.5.1.4.1.1.7", size, size, "PALETTE COLOR", 8, false);
    const Uint16 descriptor[3] = {256, 0, 16};
    std::vector<Uint16> lut[3];
    for (int i = 0; i < 256; ++i) {
        lut[0].push_back(Uint16(i * 257));
        lut[1].push_back(Uint16((255 - i) * 257));
        lut[2].push_back(Uint16(128 * 257));
    }
    const DcmTagKey descriptors[3] = {DCM_RedPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableDescriptor,
                                      DCM_BluePaletteColorLookupTableDescriptor};
    const DcmTagKey data[3] = {DCM_RedPaletteColorLookupTableData, DCM_GreenPaletteColorLookupTableData,
                               DCM_BluePaletteColorLookupTableData};
    for (int c = 0; c < 3; ++c) {
        ds->putAndInsertUint16Array(descriptors[c], descriptor, 3);
        ds->putAndInsertUint16Array(data[c], lut[c].data(), 256);
    }
    putPixels<Uint8>(ds, size, size, index);
    return image;
}

} // namespace orv::test

Q_DECLARE_METATYPE(orv::dicom::Image)
