#include "ZorvSplash.h"

#include "Layout.h"
#include "Program.h"
#include "Skin.h"
#include "Zorv.h"

namespace zorvik::forms {

ZorvSplash::ZorvSplash(Program& program)
    : Form({.caption = {},
            .clientSize = kSplashClient,
            .picture = skin::Picture("SplashPicture"),
            .icon = {}}),
      program_(program) {}

void ZorvSplash::Form_MouseDown(std::int16_t, std::int16_t, float, float) {
    // Showing the main window loads it first, so its Form_Load has run before it is drawn.
    program_.MainForm().Show();
    Hide();
}

}  // namespace zorvik::forms
