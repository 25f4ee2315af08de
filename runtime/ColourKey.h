#pragma once
// Colour-keyed windows: pixels of exactly the key colour are neither drawn nor hit by the pointer. The
// window's shape is the set of its pixels that are not the key colour, applied as a window mask (on X11
// the SHAPE extension), and recomputed whenever one of its controls is shown, hidden, moved or resized:
// for a control of the window moving or changing size, only in the rectangles it left and entered, so a
// marker that follows every drum hit costs a render of two small rectangles, not of the whole window.
//
// A Wayland compositor takes a window's mask as its input region only and shows what the window draws,
// so there the window is translucent and the key-colour pixels are also drawn with alpha 0: an eraser
// lying above every control clears them after everything beneath has painted. The shape is computed the
// same way and still given as the mask, so the pointer goes through the same pixels on both.

#include <QObject>
#include <QPixmap>
#include <QRegion>
#include <QRgb>

class QImage;
class QWidget;

namespace zorvik::runtime {

// The pixels of `image` whose RGB is not exactly `key`, as a region of image pixels.
QRegion OpaqueRegion(const QImage& image, QRgb key);

// Renders the window as it is now, without its current shape, in device-independent pixels: its
// background, its own picture, then its visible controls in stacking order.
QImage RenderWindow(QWidget& window, const QPixmap& picture);
// The same for the part `area` of the window only: pixel (0, 0) of the image is area.topLeft().
QImage RenderWindowArea(QWidget& window, const QPixmap& picture, const QRect& area);

class KeyEraser;

class ColourKey : public QObject {
    Q_OBJECT
  public:
    enum class SeeThrough {
        kByShape,  // the mask alone hides the pixels (X11's SHAPE)
        kByAlpha,  // the mask and pixels of alpha 0 (Wayland)
    };
    // What the platform the application runs on needs.
    static SeeThrough ForThisPlatform();

    // With kByAlpha the window must not have been shown yet: a window is made translucent only before
    // its first showing.
    ColourKey(QWidget& window, QRgb key, QPixmap picture, SeeThrough how = ForThisPlatform());
    ~ColourKey() override;

    // Recomputes the whole shape now.
    void Update();
    // The shape computed last.
    const QRegion& Region() const { return region_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Watch(QObject* object);
    // Recomputes the shape soon: only inside `changed` (window pixels), or everywhere when it is null.
    void ScheduleUpdate(const QRect& changed = QRect());
    void UpdateChanged();
    void Apply(const QRegion& region);

    QWidget& window_;
    KeyEraser* eraser_ = nullptr;  // a control of the window, with kByAlpha only
    QRgb key_;
    QPixmap picture_;
    QRegion region_;
    bool pending_ = false;
    bool pendingAll_ = false;
    bool applied_ = false;
    QRegion changed_;  // what the pending update must render again, unless pendingAll_
};

}  // namespace zorvik::runtime
