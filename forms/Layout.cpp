#include "Layout.h"

namespace zorvik::forms {

namespace {

using K = ControlKind;

constexpr const char* kArial = "Arial";
constexpr const char* kPerpetua = "Perpetua";
constexpr std::uint32_t kGrey = 0x00808080;
constexpr std::uint32_t kBlack = 0x00000000;

ControlSpec DrumLabel(int index) {
    static constexpr std::array<const char*, kDrumCount> names{"DrumsName(0)", "DrumsName(1)", "DrumsName(2)",
                                                               "DrumsName(3)", "DrumsName(4)", "DrumsName(5)",
                                                               "DrumsName(6)", "DrumsName(7)"};
    ControlSpec spec{.name = names[index],
                     .kind = K::Label,
                     .rect = {240, 480 + 360 * index, 1380, 300},
                     .caption = kit::kDrumNames[index],
                     .font = kArial,
                     .align = Align::Left,
                     .tabIndex = index};
    // Only the first row's colour is stored; the others keep the system's text colour.
    if (index == 0) {
        spec.textColour = kBlack;
    }
    return spec;
}

ControlSpec Pad(const char* name, int top) {
    return {.name = name, .kind = K::Image, .rect = {120, top, 1500, 300}, .picture = "PadPicture"};
}

std::array<ControlSpec, 34> MakeZorvControls() {
    return {{
        {.name = "MVolume",
         .kind = K::Slider,
         .rect = {2160, 1080, 1095, 255},
         .tabIndex = 12,
         .slider = {.min = -100, .max = 0, .value = 0, .smallChange = 1, .largeChange = 5}},
        {.name = "MusicName",
         .kind = K::TextBox,
         .rect = {2160, 720, 3735, 285},
         .font = kArial,
         .tabIndex = 11,
         .fill = kGrey},
        {.name = "MusicLoader", .kind = K::FileDialog, .rect = {6960, 480, 0, 0}},
        {.name = "MSpeed",
         .kind = K::Slider,
         .rect = {3360, 1080, 1095, 255},
         .tabIndex = 13,
         .slider = {.min = 50, .max = 150, .value = 100, .smallChange = 1, .largeChange = 5}},
        {.name = "OpenRecorder",
         .kind = K::Label,
         .rect = {1920, 2160, 1400, 300},
         .caption = "Open Recorder",
         .font = kArial,
         .align = Align::Centre,
         .tabIndex = 16},
        {.name = "Image9", .kind = K::Image, .rect = {1800, 2160, 1500, 300}, .picture = "PadPicture"},
        {.name = "MSpeLabel",
         .kind = K::Label,
         .rect = {3360, 1320, 1095, 255},
         .caption = "Speed",
         .font = kArial,
         .align = Align::Centre,
         .tabIndex = 15},
        {.name = "MVolLabel",
         .kind = K::Label,
         .rect = {2160, 1320, 1095, 255},
         .caption = "Volume",
         .font = kArial,
         .align = Align::Centre,
         .tabIndex = 14},
        {.name = "MPlay",
         .kind = K::Label,
         .rect = {4960, 1680, 375, 255},
         .caption = "Play",
         .font = kPerpetua,
         .tabIndex = 10},
        {.name = "MStop",
         .kind = K::Label,
         .rect = {4480, 1680, 375, 255},
         .caption = "Stop",
         .font = kPerpetua,
         .tabIndex = 9},
        {.name = "MLoad",
         .kind = K::Label,
         .rect = {5360, 1680, 375, 255},
         .caption = "Load",
         .font = kPerpetua,
         .tabIndex = 8},
        DrumLabel(0),
        DrumLabel(1),
        DrumLabel(2),
        DrumLabel(3),
        DrumLabel(4),
        DrumLabel(5),
        DrumLabel(6),
        DrumLabel(7),
        {.name = "DrumPressed",
         .kind = K::Image,
         .rect = {120, 480, 1500, 300},
         .picture = "PadPressedPicture"},
        Pad("Image7", 3000),
        Pad("Image6", 2640),
        Pad("Image5", 2280),
        Pad("Image4", 1920),
        Pad("Image3", 1560),
        Pad("Image2", 1200),
        Pad("Image1", 840),
        Pad("Kick", 480),
        {.name = "CloseControl", .kind = K::Image, .rect = {7490, 0, 225, 225}, .picture = "ClosePicture"},
        {.name = "MoveControl", .kind = K::Image, .rect = {0, 0, 7500, 225}, .picture = "TitleStripPicture"},
        {.name = "CloseControlOver",
         .kind = K::Image,
         .rect = {7485, 0, 225, 225},
         .picture = "CloseOverPicture"},
        {.name = "DrumBackGround",
         .kind = K::Shape,
         .rect = {120, 480, 1500, 2805},
         .fill = kGrey,
         .border = kBlack},
        {.name = "Image8",
         .kind = K::Image,
         .rect = {1800, 480, 4500, 1500},
         .picture = "TransportPanelPicture"},
        {.name = "BackGround",
         .kind = K::Image,
         .rect = {0, 240, 7710, 5640},
         .picture = "BackgroundPicture",
         .stretch = true},
    }};
}

}  // namespace

const std::array<ControlSpec, 34>& ZorvControls() {
    static const std::array<ControlSpec, 34> controls = MakeZorvControls();
    return controls;
}

}  // namespace zorvik::forms
