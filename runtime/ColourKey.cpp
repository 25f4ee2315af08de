#include "ColourKey.h"

#include <QChildEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMoveEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>

namespace zorvik::runtime {

// Clears the see-through pixels to alpha 0. It is the window's topmost control, so it paints after the
// window's picture and every other control; the raster backing store they all draw into keeps its clear.
class KeyEraser : public QWidget {
  public:
    KeyEraser(QWidget& window, const QRegion& opaque) : QWidget(&window), opaque_(opaque) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(window.rect());
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        const QRegion clear = event->region().subtracted(opaque_);
        if (clear.isEmpty()) {
            return;
        }
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        for (const QRect& rect : clear) {
            painter.fillRect(rect, Qt::transparent);
        }
    }

  private:
    const QRegion& opaque_;  // the colour key's shape, which outlives this control
};

QRegion OpaqueRegion(const QImage& source, QRgb key) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const QRgb wanted = key & 0x00FFFFFFu;
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && (line[x] & 0x00FFFFFFu) == wanted) {
                ++x;
            }
            const int start = x;
            while (x < image.width() && (line[x] & 0x00FFFFFFu) != wanted) {
                ++x;
            }
            if (x > start) {
                region += QRect(start, y, x - start, 1);
            }
        }
    }
    return region;
}

QImage RenderWindow(QWidget& window, const QPixmap& picture) {
    return RenderWindowArea(window, picture, window.rect());
}

QImage RenderWindowArea(QWidget& window, const QPixmap& picture, const QRect& area) {
    // The window itself is rendered clipped to its current shape, which would keep a once see-through
    // pixel see-through for ever; its controls are not, so the picture is put together from them.
    QImage image(area.size(), QImage::Format_RGB32);
    image.fill(window.palette().color(window.backgroundRole()));
    QPainter painter(&image);
    if (!picture.isNull()) {
        painter.drawPixmap(-area.topLeft(), picture);
    }
    for (QObject* child : window.children()) {  // bottom to top
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr || control->isWindow() || !control->isVisibleTo(&window)) {
            continue;
        }
        if (dynamic_cast<KeyEraser*>(control) != nullptr) {
            continue;
        }
        // The part of the control inside `area`, in its own pixels; render() puts that part's top-left
        // corner at the target offset.
        const QRect part = control->rect().intersected(area.translated(-control->pos()));
        if (part.isEmpty()) {
            continue;
        }
        // Rendered on its own, a control would fill its background even where it draws none on screen.
        QWidget::RenderFlags flags = QWidget::DrawChildren;
        if (control->autoFillBackground()) {
            flags |= QWidget::DrawWindowBackground;
        }
        control->render(&painter, control->pos() + part.topLeft() - area.topLeft(), QRegion(part), flags);
    }
    return image;
}

ColourKey::SeeThrough ColourKey::ForThisPlatform() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? SeeThrough::kByAlpha
                                                                                : SeeThrough::kByShape;
}

ColourKey::ColourKey(QWidget& window, QRgb key, QPixmap picture, SeeThrough how)
    : window_(window), key_(key), picture_(std::move(picture)) {
    if (how == SeeThrough::kByAlpha) {
        window_.setAttribute(Qt::WA_TranslucentBackground);
        eraser_ = new KeyEraser(window_, region_);
        eraser_->show();
    }
    Watch(&window_);
}

ColourKey::~ColourKey() {
    delete eraser_;
}

void ColourKey::Watch(QObject* object) {
    if (object == eraser_) {
        return;
    }
    object->installEventFilter(this);
    for (QObject* child : object->children()) {
        if (child->isWidgetType()) {
            Watch(child);
        }
    }
}

void ColourKey::Update() {
    pending_ = false;
    pendingAll_ = false;
    changed_ = QRegion();
    Apply(OpaqueRegion(RenderWindow(window_, picture_), key_));
}

void ColourKey::UpdateChanged() {
    pending_ = false;
    const QRegion changed = changed_.intersected(window_.rect());
    changed_ = QRegion();
    QRegion region = region_.subtracted(changed);
    for (const QRect& rect : changed) {
        region += OpaqueRegion(RenderWindowArea(window_, picture_, rect), key_).translated(rect.topLeft());
    }
    Apply(region);
}

void ColourKey::Apply(const QRegion& region) {
    // Setting the same shape again would still cost a round trip to the X server.
    if (applied_ && (region ^ region_).isEmpty()) {
        return;
    }
    // The pixels that change sides are drawn again, the eraser clearing those now see-through.
    if (eraser_ != nullptr) {
        eraser_->update(applied_ ? region ^ region_ : QRegion(window_.rect()));
    }
    applied_ = true;
    region_ = region;
    if (region_.isEmpty()) {
        window_.clearMask();
    } else {
        window_.setMask(region_);
    }
}

void ColourKey::ScheduleUpdate(const QRect& changed) {
    if (changed.isNull()) {
        pendingAll_ = true;
    } else {
        changed_ += changed;
    }
    if (pending_) {
        return;
    }
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (!pending_) {
            return;
        }
        if (pendingAll_) {
            Update();
        } else {
            UpdateChanged();
        }
    });
}

bool ColourKey::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ChildAdded: {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child == eraser_) {
                break;
            }
            if (child->isWidgetType()) {
                Watch(child);
            }
            // A control added later lies above the eraser until it is raised again.
            if (eraser_ != nullptr && watched == &window_) {
                eraser_->raise();
            }
            ScheduleUpdate();
            break;
        }
        case QEvent::ZOrderChange:
            // A control raised later would lie above the eraser.
            if (eraser_ != nullptr && watched != &window_) {
                eraser_->raise();
            }
            break;
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize: {
            if (watched == &window_) {
                // The window's own moves do not change its shape.
                if (event->type() != QEvent::Move) {
                    ScheduleUpdate();
                }
                break;
            }
            auto* control = static_cast<QWidget*>(watched);
            if (control->parentWidget() != &window_) {
                ScheduleUpdate();  // deeper down, the old place is not in the window's pixels
                break;
            }
            // The control's rectangle before and after the change; the rest of the window is as it was.
            QRect before = control->geometry();
            if (event->type() == QEvent::Move) {
                before.moveTopLeft(static_cast<QMoveEvent*>(event)->oldPos());
            } else if (event->type() == QEvent::Resize) {
                before.setSize(static_cast<QResizeEvent*>(event)->oldSize());
            }
            ScheduleUpdate(before);
            ScheduleUpdate(control->geometry());
            break;
        }
        default:
            break;
    }
    return false;
}

}  // namespace zorvik::runtime
