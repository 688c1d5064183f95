#pragma once

#include <QString>
#include <stdexcept>

namespace orv {

// The one error type that crosses layer boundaries. Toolkit conditions, SQL errors and OS
// errors are converted into it where they arise, with a description fit to show an operator.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &description, int code = -1)
        : std::runtime_error(description.toStdString()), m_description(description), m_code(code)
    {}

    const QString &description() const { return m_description; }
    // Backend-specific number (SQL native error, errno, DIMSE status), -1 when none applies.
    int code() const { return m_code; }

private:
    QString m_description;
    int m_code;
};

// Converts whatever escaped a handler into a readable description.
inline QString describe(const std::exception &e)
{
    if (auto err = dynamic_cast<const Error *>(&e))
        return err->description();
    return QString::fromLocal8Bit(e.what());
}

} // namespace orv
