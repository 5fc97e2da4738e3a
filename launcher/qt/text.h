// The core's UTF-8 texts as Qt strings and back.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace vornlog {

inline QString qt(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string utf8(const QString& text)
{
    return text.toStdString();
}

} // namespace vornlog
