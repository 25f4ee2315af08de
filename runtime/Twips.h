#pragma once
// Layout geometry is kept in twips (1/1440 inch), as the layout tables give it. At the usual 96 dots per
// inch, 15 twips make one device-independent pixel; Qt's own scaling takes care of HiDPI screens.

#include <QRect>
#include <cmath>

namespace zorvik::runtime {

inline constexpr int kTwipsPerPixel = 15;

inline int TwipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}
inline float PixelsToTwips(double pixels) {
    return static_cast<float>(pixels * kTwipsPerPixel);
}

struct TwipRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    QRect ToPixels() const {
        return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
    }
};

}  // namespace zorvik::runtime
