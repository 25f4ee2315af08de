#include "Controls.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>

namespace zorvik::runtime {

namespace {
constexpr const char* kTwipsProperty = "zorvikTwips";
}

std::int16_t ButtonCode(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
    }
}

std::int16_t ShiftCode(Qt::KeyboardModifiers modifiers) {
    std::int16_t code = 0;
    if (modifiers & Qt::ShiftModifier) {
        code |= 1;
    }
    if (modifiers & Qt::ControlModifier) {
        code |= 2;
    }
    if (modifiers & Qt::AltModifier) {
        code |= 4;
    }
    return code;
}

void PlaceInTwips(QWidget& control, const TwipRect& rect) {
    control.setProperty(kTwipsProperty, QRect(rect.left, rect.top, rect.width, rect.height));
    control.setGeometry(rect.ToPixels());
}

TwipRect TwipsOf(const QWidget& control) {
    const QRect r = control.property(kTwipsProperty).toRect();
    return {r.x(), r.y(), r.width(), r.height()};
}

void SetTopInTwips(QWidget& control, float topTwips) {
    TwipRect rect = TwipsOf(control);
    rect.top = static_cast<int>(std::lround(topTwips));
    control.setProperty(kTwipsProperty, QRect(rect.left, rect.top, rect.width, rect.height));
    control.move(control.x(), TwipsToPixels(topTwips));
}

float TopInTwips(const QWidget& control) {
    return static_cast<float>(TwipsOf(control).top);
}

void MouseSource::DispatchPress(QWidget& self, QMouseEvent* event) {
    (void)self;
    if (event->button() == Qt::LeftButton) {
        leftPressed_ = true;
    }
    if (MouseDown) {
        MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                  PixelsToTwips(event->position().x()), PixelsToTwips(event->position().y()));
    }
}

void MouseSource::DispatchMove(QWidget& self, QMouseEvent* event) {
    (void)self;
    if (MouseMove) {
        std::int16_t buttons = 0;
        if (event->buttons() & Qt::LeftButton) {
            buttons |= 1;
        }
        if (event->buttons() & Qt::RightButton) {
            buttons |= 2;
        }
        if (event->buttons() & Qt::MiddleButton) {
            buttons |= 4;
        }
        MouseMove(buttons, ShiftCode(event->modifiers()), PixelsToTwips(event->position().x()),
                  PixelsToTwips(event->position().y()));
    }
}

void MouseSource::DispatchRelease(QWidget& self, QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !leftPressed_) {
        return;
    }
    leftPressed_ = false;
    // A click is a left press and release on the same control.
    if (Click && self.rect().contains(event->position().toPoint())) {
        Click();
    }
}

Image::Image(QWidget* parent, const QPixmap& picture, bool stretch)
    : QWidget(parent), picture_(picture), stretch_(stretch) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Image::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), picture_);
    } else {
        painter.drawPixmap(0, 0, picture_);
    }
}

Label::Label(QWidget* parent, const QString& caption, Qt::Alignment alignment, bool transparentBack)
    : QLabel(caption, parent) {
    setAlignment(alignment | Qt::AlignTop);
    setWordWrap(false);
    setMouseTracking(true);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(!transparentBack);
}

void Label::FitCaption() {
    // Below this no caption is readable anyway; a caption that still does not fit is cut at the edge.
    constexpr qreal kSmallestPoints = 5.0;
    constexpr qreal kStep = 0.25;
    const QRectF room = contentsRect();
    QFont fitted = font();
    for (qreal points = fitted.pointSizeF(); points >= kSmallestPoints; points -= kStep) {
        fitted.setPointSizeF(points);
        const QFontMetricsF metrics(fitted);
        // Where the label lays the caption out, and the ink around that line's baseline.
        const QRectF line = metrics.boundingRect(room, static_cast<int>(alignment()), text());
        const QRectF ink =
            metrics.tightBoundingRect(text()).translated(line.left(), line.top() + metrics.ascent());
        // Glyph outlines are placed on whole pixels when drawn: ink less than half a pixel over an edge
        // colours no pixel beyond it.
        if (room.adjusted(-0.5, -0.5, 0.5, 0.5).contains(ink)) {
            break;
        }
    }
    setFont(fitted);
}

Shape::Shape(QWidget* parent, const QColor& fill, const QColor& border)
    : QWidget(parent), fill_(fill), border_(border) {}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(QPen(border_, 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

TextBox::TextBox(QWidget* parent, const QColor& background, bool border) : QLineEdit(parent) {
    setFrame(border);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    setTextMargins(0, 0, 0, 0);
}

Slider::Slider(QWidget* parent, const Settings& settings) : QSlider(Qt::Horizontal, parent) {
    setRange(settings.min, settings.max);
    setValue(settings.value);
    setSingleStep(settings.smallChange);
    setPageStep(settings.largeChange);
    setTickPosition(QSlider::NoTicks);
    setTickInterval(1);
    // An action is reported before the slider takes its new value: raise Scroll once the value has
    // changed, or, for an action that left it as it was, once the action is over.
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int) {
        // An earlier action that left the value as it was is still owed its Scroll.
        if (scrollPending_) {
            RaiseScroll();
        }
        scrollPending_ = true;
        QTimer::singleShot(0, this, [this] {
            if (scrollPending_) {
                RaiseScroll();
            }
        });
    });
    connect(this, &QAbstractSlider::valueChanged, this, [this](int) {
        if (scrollPending_) {
            RaiseScroll();
        }
    });
}

void Slider::RaiseScroll() {
    scrollPending_ = false;
    ++scrollsRaised_;
    if (Scroll) {
        Scroll();
    }
}

void Slider::keyPressEvent(QKeyEvent* event) {
    const int raisedBefore = scrollsRaised_;
    QSlider::keyPressEvent(event);
    static constexpr int kSliderKeys[] = {Qt::Key_Left,   Qt::Key_Right,    Qt::Key_Up,   Qt::Key_Down,
                                          Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
    // At either end the slider takes a key press that cannot move it without reporting an action; it is
    // still a scroll of the slider.
    if (std::find(std::begin(kSliderKeys), std::end(kSliderKeys), event->key()) != std::end(kSliderKeys) &&
        !scrollPending_ && scrollsRaised_ == raisedBefore) {
        RaiseScroll();
    }
}

void Slider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (Click) {
        Click();
    }
}

FileDialog::FileDialog(QWidget* owner) : QObject(owner), owner_(owner) {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    folder_ = QFileInfo(music).isDir() ? music : QDir::homePath();
}

bool FileDialog::ShowOpen() {
    // The name field opens with the file name (or pattern) of the last use, in the folder of that file.
    QFileInfo current(FileName);
    QString folder = folder_;
    QString name = FileName;
    if (current.isAbsolute()) {
        folder = current.absolutePath();
        name = current.fileName();
    }
    OpenFileDialog dialog(owner_, DialogTitle, folder, name);
    if (!Filter.isEmpty()) {
        dialog.setNameFilter(Filter);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return false;
    }
    const QFileInfo info(chosen.front());
    FileName = info.absoluteFilePath();
    FileTitle = info.fileName();
    folder_ = info.absolutePath();
    return true;
}

OpenFileDialog::OpenFileDialog(QWidget* parent, const QString& title, const QString& folder,
                               const QString& pattern)
    : QFileDialog(parent, title, folder) {
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    if (IsPattern(pattern)) {
        setNameFilter(pattern);
    }
    selectFile(pattern);
    if (QLineEdit* edit = NameEdit()) {
        edit->setText(pattern);
    }
}

bool OpenFileDialog::IsPattern(const QString& text) {
    return text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'));
}

QLineEdit* OpenFileDialog::NameEdit() const {
    return findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

void OpenFileDialog::accept() {
    QLineEdit* edit = NameEdit();
    const QString typed = edit ? edit->text().trimmed() : QString();
    if (IsPattern(typed) && !QFileInfo::exists(QDir(directory()).filePath(typed))) {
        // A pattern is a request to list the folder by it; a folder part moves there first.
        const QFileInfo info(QDir(directory()), typed);
        if (info.dir().exists()) {
            setDirectory(info.dir());
        }
        setNameFilter(info.fileName());
        if (edit) {
            edit->setText(info.fileName());
        }
        return;
    }
    QFileDialog::accept();
}

}  // namespace zorvik::runtime
