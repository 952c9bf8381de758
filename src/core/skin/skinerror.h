#pragma once

#include <QString>
#include <stdexcept>

// Raised by the skin engine when a skin cannot be loaded or applied; what()
// is a sentence for the user (UTF-8).
class SkinError : public std::runtime_error
{
public:
    using runtime_error::runtime_error;
    explicit SkinError(const QString &message) : std::runtime_error(message.toStdString()) {}

    QString message() const { return QString::fromUtf8(what()); }
};
