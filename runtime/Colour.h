#pragma once
// Colours travel as 0x00BBGGRR words, red in the low byte, the way the layouts store them.

#include <QColor>
#include <cstdint>

namespace zorvik::runtime {

inline QColor ColourFromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

}  // namespace zorvik::runtime
