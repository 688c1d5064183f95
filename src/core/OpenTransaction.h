#pragma once

#include <QHash>
#include <QObject>
#include <QString>

namespace orv {

// The open transaction: the record the editor shows. The editor binds its fields to it; stamping,
// capture, sending, the worklist and printing read or fill it at the moment of use.
// Field names are the names of the editor's text boxes without the "txt" prefix.
class OpenTransaction : public QObject
{
    Q_OBJECT
public:
    enum Field {
        TransNo, PatientID, HospNum, ExamType, FileNo, ExamId, ExamName, DocID, DocName, RadId, RadName,
        TechID, Technologist, UserId, TransDate, StudyUID, SeriesUID, SeriesNum, ImgNum,
        LName, FName, MName, Gender, BDate, Interpret, IntBy, FieldCount
    };
    Q_ENUM(Field)

    QString value(Field f) const { return m_values.value(f); }
    void setValue(Field f, const QString &v);
    void clear();

    // The patient name as "last^first^middle".
    QString GetPatName() const;

    // The control name bound to a field ("txtTransNo").
    static QString controlName(Field f);

signals:
    void changed(orv::OpenTransaction::Field field, const QString &value);

private:
    QHash<int, QString> m_values;
};

// The open transaction of this run.
OpenTransaction &openTransaction();

} // namespace orv
