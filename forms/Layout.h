#pragma once
// What each window holds when it is created: every control with its place in twips, its contents and
// settings, in stacking order, topmost first (the order the controls are created in).

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "Controls.h"
#include "Kit.h"
#include "Twips.h"

namespace zorvik::forms {

enum class ControlKind { Slider, TextBox, FileDialog, Label, Image, Shape };

enum class Align { Left, Centre };

struct ControlSpec {
    const char* name;
    ControlKind kind;
    runtime::TwipRect rect;
    const char* picture = nullptr;  // image: a skin picture's name
    bool stretch = false;
    const char* caption = nullptr;  // label caption
    const char* font = nullptr;     // face asked for by name; 8.25 pt bold
    Align align = Align::Left;
    int tabIndex = -1;
    std::optional<std::uint32_t> textColour;  // 0x00BBGGRR; else the system's text colour
    std::optional<std::uint32_t> fill;        // shape fill and text box background
    std::optional<std::uint32_t> border;      // shape border
    runtime::Slider::Settings slider{};
};

inline constexpr double kFontPoints = 8.25;
inline constexpr int kDrumCount = static_cast<int>(kit::kDrumNames.size());

// The 34 controls of the main window, topmost first. The drum labels are named "DrumsName(i)".
const std::array<ControlSpec, 34>& ZorvControls();

// Main window settings.
inline constexpr const char* kZorvCaption = "Norvane\u00AE Studio Lines";
inline constexpr runtime::TwipRect kZorvClient{0, 0, 7710, 3570};
// The file dialog's stored settings.
inline constexpr const char* kMusicLoaderTitle = "Music Loader";
inline constexpr const char* kMusicLoaderFileName = "*.MP3";

// Splash window settings.
inline constexpr runtime::TwipRect kSplashClient{0, 0, 4500, 1500};

}  // namespace zorvik::forms
