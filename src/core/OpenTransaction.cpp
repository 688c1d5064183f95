#include "OpenTransaction.h"

#include <QMetaEnum>

namespace orv {

void OpenTransaction::setValue(Field f, const QString &v)
{
    if (m_values.value(f) == v && m_values.contains(f))
        return;
    m_values.insert(f, v);
    emit changed(f, v);
}

void OpenTransaction::clear()
{
    for (int f = 0; f < FieldCount; ++f)
        setValue(Field(f), QString());
}

QString OpenTransaction::GetPatName() const
{
    return value(LName) + QLatin1Char('^') + value(FName) + QLatin1Char('^') + value(MName);
}

QString OpenTransaction::controlName(Field f)
{
    return QStringLiteral("txt") + QString::fromLatin1(QMetaEnum::fromType<Field>().valueToKey(f));
}

OpenTransaction &openTransaction()
{
    static OpenTransaction t;
    return t;
}

} // namespace orv
