#pragma once

#include <QPixmap>
#include <array>
#include <cstdint>

namespace zorvik::skin {

struct PictureSize {
    const char* name;
    int width;
    int height;
};

// The windows are laid out around these sizes, so a picture drawn at any other size is a build error,
// not something to rescale at run time.
inline constexpr std::array<PictureSize, 9> kPictures{{
    {"SplashPicture", 300, 100},
    {"AppIcon", 32, 32},
    {"PadPicture", 100, 20},
    {"PadPressedPicture", 100, 20},
    {"ClosePicture", 15, 15},
    {"CloseOverPicture", 15, 15},
    {"TitleStripPicture", 500, 15},
    {"TransportPanelPicture", 300, 100},
    {"BackgroundPicture", 500, 400},
}};

// The desktop icon is drawn afresh at each of these sizes (hicolor <n>x<n>), the largest also as the
// scalable SVG. packaging/Packaging.cmake reads this list for the build's outputs.
inline constexpr std::array<int, 8> kIconSizes{16, 22, 24, 32, 48, 64, 128, 256};

// The main window is shaped by punching out every pixel of exactly this colour, given as the forms give
// colours, 0x00BBGGRR: RGB(0,255,255).
inline constexpr std::uint32_t kKeyColour = 0x00FFFF00;

// Anything this close to the key could be mistaken for it after scaling or dithering, so no picture may
// contain it.
constexpr bool NearTransparencyKey(int r, int g, int b) {
    constexpr int kMargin = 16;
    auto near = [](int value, int shift) {
        const int key = static_cast<int>((kKeyColour >> shift) & 0xFF);
        return value >= key - kMargin && value <= key + kMargin;
    };
    return near(r, 0) && near(g, 8) && near(b, 16);
}

// Registers the compiled-in pictures; the library is static, so nothing does this on its own.
void InitResources();

// One of the kPictures names; a null pixmap if there is no such picture.
QPixmap Picture(const char* name);

}  // namespace zorvik::skin
