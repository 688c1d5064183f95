#include "Dump.h"

#include "DicomFile.h"

namespace orv::dicom {

namespace {
QString hex4(quint16 v) { return (QStringLiteral("000") + QString::number(v, 16).toUpper()).right(4); }
} // namespace

void dumpAttributes(QString &text, const QString &prefix, const QList<Attribute> &attributes)
{
    for (const Attribute &a : attributes) {
        text += prefix + QLatin1Char('(') + hex4(a.group) + QLatin1Char(',') + hex4(a.element) + QStringLiteral(") : ");
        text += a.description.leftJustified(30, QLatin1Char(' '), true) + QStringLiteral(": ");
        switch (a.kind) {
        case Attribute::Kind::PixelData:
            text += QStringLiteral("Pixel data\n");
            break;
        case Attribute::Kind::Sequence:
            text += QStringLiteral("Sequence of %1 items:\n").arg(a.items.size());
            for (const DataSet &item : a.items) {
                text += prefix + QStringLiteral(">---------------\n");
                dumpAttributes(text, prefix + QLatin1Char('>'), item.attributes());
            }
            text += prefix + QStringLiteral(">---------------\n");
            break;
        case Attribute::Kind::Single:
            text += a.values.value(0) + QLatin1Char('\n');
            break;
        case Attribute::Kind::Multiple:
            text += QStringLiteral("Multiple values :\n              ");
            if (a.valueCount < 33)
                text += a.values.join(QStringLiteral(" : "));
            else
                text += QStringLiteral("Array of %1 elements").arg(a.valueCount);
            text += QLatin1Char('\n');
            break;
        }
    }
}

QString dumpFile(const QString &path)
{
    QString text;
    dumpAttributes(text, QString(), dataSetOf(readDicomFile(path)).attributes());
    return text;
}

} // namespace orv::dicom
