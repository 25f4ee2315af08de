// One drum hit's work on the GUI thread, as a key press makes it: the key through the form's key handler,
// the sample handed to the drum player (on PulseAudio with the queued audio written again, the hit in
// it), the pad bar moved, its colour key worked out again and the window repainted. Beside it, in the
// same run, a bare Qt window of the same size doing the least a key can make a window do: one small
// picture moved and painted. Hits alternate between the two, so the machine's noise falls on both alike.
// The first hit of each drum is reported apart.
//
//   build/bench/bench_hit_gui [HITS]    on any display (QT_QPA_PLATFORM=offscreen will do) and with the
//                                        output the drums choose (ZORVIK_AUDIO forces one)
//   bench/hit.sh BUILD                   on a private X display, for each output of a private PulseAudio
//                                        and of a private PipeWire

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Studio.h"
#include "Zorv.h"
#include "ZorvSplash.h"

namespace {

using Clock = std::chrono::steady_clock;

using zorvik::forms::kDrumKeys;

// Press and release `key` in `window` as the event loop would deliver them (to the focused widget, when
// it is in that window: a key sent to the window past a focused button of it is not the form's), then
// let the loop run what they left for it (the colour key's update, the repaint); the time it all took
// on this thread, in ms.
double Hit(QWidget* window, char16_t key) {
    QWidget* receiver = QApplication::focusWidget();
    if (receiver == nullptr || receiver->window() != window) {
        receiver = window;
    }
    const QString text(QChar{key});
    const auto start = Clock::now();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(receiver, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(receiver, &release);
    QCoreApplication::processEvents();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A window of the main window's size whose only answer to a key is to move a small picture to a row.
class BareWindow : public QWidget {
  public:
    BareWindow() {
        resize(514, 238);
        QPixmap picture(100, 20);
        picture.fill(Qt::darkRed);
        marker_.setPixmap(picture);
        marker_.setParent(this);
        setFocusPolicy(Qt::StrongFocus);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const auto key = std::find_if(kDrumKeys.begin(), kDrumKeys.end(), [&](const auto& drum) {
            return event->text() == QChar{static_cast<char16_t>(drum.code)};
        });
        if (key != kDrumKeys.end()) {
            marker_.move(8, 32 + 24 * key->index);
        }
    }

  private:
    QLabel marker_;
};

struct Figures {
    double median, p99, max;
};

Figures Of(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int hits = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
    zorvik::Studio studio;
    zorvik::forms::Program& program = studio.program;
    program.SplashForm().Show();
    QWidget* splash = program.SplashForm().Window();
    const QPointF inside(splash->width() / 2.0, splash->height() / 2.0);
    QMouseEvent click(QEvent::MouseButtonPress, inside, splash->mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(splash, &click);
    QWidget* mainWindow = program.MainForm().Window();
    BareWindow bare;
    bare.show();
    // Both windows on screen, and the drums' output opened in the background as the window opens.
    const auto settle = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < settle) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    std::vector<double> first, ours, theirs;
    for (int i = 0; i < hits; ++i) {
        const auto key = static_cast<char16_t>(kDrumKeys[i % kDrumKeys.size()].code);
        const double hit = Hit(mainWindow, key);
        (i < static_cast<int>(kDrumKeys.size()) ? first : ours).push_back(hit);
        theirs.push_back(Hit(&bare, key));
    }
    const Figures z = Of(ours), b = Of(theirs), f = Of(first);
    std::printf("GUI-thread work of one hit, %zu hits each (platform %s):\n", ours.size(),
                qPrintable(QApplication::platformName()));
    std::printf("  Zorvik          median %6.3f ms  p99 %6.3f ms  max %6.3f ms\n", z.median, z.p99, z.max);
    std::printf("  bare Qt window  median %6.3f ms  p99 %6.3f ms  max %6.3f ms\n", b.median, b.p99, b.max);
    std::printf("  Zorvik / bare   median %.1f x  p99 %.1f x\n", z.median / b.median, z.p99 / b.p99);
    std::printf("  first hit of each drum: max %.3f ms\n", f.max);
    return 0;
}
