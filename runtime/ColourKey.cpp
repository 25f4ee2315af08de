#include "ColourKey.h"

#include <QChildEvent>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace zorvik::runtime {

QRegion OpaqueRegion(const QImage& source, QRgb key) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const QRgb wanted = key & 0x00FFFFFFu;
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && (line[x] & 0x00FFFFFFu) == wanted) ++x;
            const int start = x;
            while (x < image.width() && (line[x] & 0x00FFFFFFu) != wanted) ++x;
            if (x > start) region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

QImage RenderWindow(QWidget& window, const QPixmap& picture) {
    // The window itself is rendered clipped to its current shape, which would keep a once see-through
    // pixel see-through for ever; its controls are not, so the picture is put together from them.
    QImage image(window.size(), QImage::Format_RGB32);
    image.fill(window.palette().color(window.backgroundRole()));
    QPainter painter(&image);
    if (!picture.isNull()) painter.drawPixmap(0, 0, picture);
    for (QObject* child : window.children()) {  // bottom to top
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr || control->isWindow() || !control->isVisibleTo(&window)) continue;
        // Rendered on its own, a control would fill its background even where it draws none on screen.
        QWidget::RenderFlags flags = QWidget::DrawChildren;
        if (control->autoFillBackground()) flags |= QWidget::DrawWindowBackground;
        control->render(&painter, control->pos(), QRegion(), flags);
    }
    return image;
}

ColourKey::ColourKey(QWidget& window, QRgb key, QPixmap picture)
    : window_(window), key_(key), picture_(std::move(picture)) {
    watch(&window_);
}

ColourKey::~ColourKey() = default;

void ColourKey::watch(QObject* object) {
    object->installEventFilter(this);
    for (QObject* child : object->children()) {
        if (child->isWidgetType()) watch(child);
    }
}

void ColourKey::Update() {
    pending_ = false;
    region_ = OpaqueRegion(RenderWindow(window_, picture_), key_);
    if (region_.isEmpty()) {
        window_.clearMask();
    } else {
        window_.setMask(region_);
    }
}

void ColourKey::scheduleUpdate() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (pending_) Update();
    });
}

bool ColourKey::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ChildAdded: {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType()) watch(child);
            scheduleUpdate();
            break;
        }
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
            // The window's own moves do not change its shape.
            if (watched != &window_ || event->type() != QEvent::Move) scheduleUpdate();
            break;
        default:
            break;
    }
    return false;
}

}  // namespace zorvik::runtime
