#pragma once

// The document holds UTF-8; Qt holds UTF-16. These two are the only conversions between them, so
// that every screen and the controller read and write texts the same way.

#include <QString>

#include <string>
#include <string_view>

namespace velmora {

inline QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace velmora
