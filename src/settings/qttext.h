#pragma once

#include <QString>

#include <string_view>

namespace quillon {

// The program's UTF-16 text as a Qt text, unit for unit.
inline QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

}  // namespace quillon
