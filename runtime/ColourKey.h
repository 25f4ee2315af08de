#pragma once
// Colour-keyed windows: pixels of exactly the key colour are neither drawn nor hit by the pointer. The
// window's shape is the set of its pixels that are not the key colour, applied as a window mask (on X11
// the SHAPE extension), and recomputed whenever one of its controls is shown, hidden, moved or resized.

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

class ColourKey : public QObject {
    Q_OBJECT
  public:
    ColourKey(QWidget& window, QRgb key, QPixmap picture);
    ~ColourKey() override;

    // Recomputes the shape now.
    void Update();
    // The shape computed last.
    const QRegion& region() const { return region_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watch(QObject* object);
    void scheduleUpdate();

    QWidget& window_;
    QRgb key_;
    QPixmap picture_;
    QRegion region_;
    bool pending_ = false;
};

}  // namespace zorvik::runtime
