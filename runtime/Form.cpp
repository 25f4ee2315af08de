#include "Form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "Colour.h"
#include "ColourKey.h"
#include "Controls.h"
#include "Runtime.h"

namespace zorvik::runtime {

namespace {
int gLoadedForms = 0;
}

// The window of a form: draws the form's picture, passes the form's own mouse and key events on and
// turns a close request from the window manager into the form's decision.
class FormWindow : public QWidget {
  public:
    explicit FormWindow(Form& form) : form_(form) {}

    void SetKeyPreview(bool on) {
        if (on == keyPreview_) {
            return;
        }
        keyPreview_ = on;
        if (on) {
            qApp->installEventFilter(this);
        } else {
            qApp->removeEventFilter(this);
        }
    }

    void BeginMove() {
        if (QWindow* handle = windowHandle(); handle && handle->startSystemMove()) {
            // A Wayland compositor keeps the button's release for the move it runs, and Qt would go on
            // sending every later press and release to the control pressed here, whose press starts
            // another move: no click would reach any control again. The press is ended here instead,
            // once its handler has returned. (On X11 Qt sends that release itself.)
            if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
                QTimer::singleShot(0, this, [this] { EndPressAfterSystemMove(); });
            }
            return;
        }
        // No window manager to do it: follow the pointer until the button is released.
        manualMove_ = true;
        moveOffset_ = QCursor::pos() - pos();
        grabMouse();
    }

    bool closingByForm = false;

  protected:
    void paintEvent(QPaintEvent*) override {
        if (form_.settings_.picture.isNull()) {
            return;
        }
        QPainter painter(this);
        painter.drawPixmap(0, 0, form_.settings_.picture);
    }

    void mousePressEvent(QMouseEvent* event) override {
        form_.Form_MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                             PixelsToTwips(event->position().x()), PixelsToTwips(event->position().y()));
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (manualMove_) {
            move(event->globalPosition().toPoint() - moveOffset_);
        }
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (manualMove_ && event->button() == Qt::LeftButton) {
            manualMove_ = false;
            releaseMouse();
        }
    }

    void closeEvent(QCloseEvent* event) override {
        if (closingByForm) {
            event->accept();
            return;
        }
        // The window stays until the form decides; the form's own unload then closes it.
        event->ignore();
        form_.WindowCloseRequested();
    }

    // Key preview: the key press goes to the form's handler first, then on to its receiver unchanged.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
            return false;
        }
        auto* target = static_cast<QWidget*>(watched);
        if (target->window() != this) {
            return false;
        }
        // A key press that its receiver ignores travels on to the parents; preview it once, at the
        // widget that receives it first.
        QWidget* first = QApplication::focusWidget();
        if (first == nullptr || first->window() != this) {
            first = this;
        }
        if (target != first) {
            return false;
        }
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty()) {
            form_.KeyPressed(static_cast<std::int16_t>(text.at(0).unicode()));
        }
        return false;
    }

  private:
    void EndPressAfterSystemMove() {
        QWindow* handle = windowHandle();
        if (handle == nullptr) {
            return;
        }
        const QPointF global = QCursor::pos();
        const QPointF local = handle->mapFromGlobal(global);
        QMouseEvent release(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &release);
    }

    Form& form_;
    bool keyPreview_ = false;
    bool manualMove_ = false;
    QPoint moveOffset_;
};

Form::Form(WindowSettings settings) : settings_(std::move(settings)) {}

Form::~Form() {
    if (window_) {
        window_->SetKeyPreview(false);
        delete window_.data();
    }
    if (IsLoaded()) {
        --gLoadedForms;
    }
}

int Form::LoadedCount() {
    return gLoadedForms;
}

QWidget* Form::Window() const {
    return window_.data();
}

void Form::Load() {
    if (IsLoaded()) {
        return;
    }
    auto* window = new FormWindow(*this);
    window_ = window;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window->setWindowTitle(settings_.caption);
    if (!settings_.icon.isNull()) {
        window->setWindowIcon(QIcon(settings_.icon));
    }
    window->setFixedSize(TwipsToPixels(settings_.clientSize.width),
                         TwipsToPixels(settings_.clientSize.height));
    CreateControls(*window);
    state_ = State::Loaded;
    ++gLoadedForms;
    Form_Load();
}

void Form::Show() {
    if (!IsLoaded()) {
        Load();
    }
    // Form_Load may have unloaded the form again.
    if (!IsLoaded() || !window_) {
        return;
    }
    window_->show();
    // A window just opened takes the keys. Some compositors (sway) give no focus to a window that maps
    // as another of the program's goes away, as the main window does when the splash is clicked.
    window_->activateWindow();
    state_ = State::Shown;
}

void Form::Hide() {
    if (!IsLoaded() || !window_) {
        return;
    }
    window_->hide();
    state_ = State::Hidden;
}

void Form::Unload() {
    if (!IsLoaded() || unloading_) {
        return;
    }
    unloading_ = true;
    std::int16_t cancel = 0;
    Form_Unload(cancel);
    unloading_ = false;
    if (cancel != 0) {
        return;
    }
    colourKey_.reset();
    if (window_) {
        FormWindow* window = window_.data();
        window->SetKeyPreview(false);
        window->closingByForm = true;
        window->hide();
        // A handler of this form may still be running further up the stack; its controls go once it has
        // returned.
        window->deleteLater();
        window_.clear();
    }
    state_ = State::Unloaded;
    --gLoadedForms;
    if (gLoadedForms == 0) {
        NoFormLoaded();
    }
}

void Form::SetBackColor(std::uint32_t bgr) {
    if (!window_) {
        return;
    }
    QPalette pal = window_->palette();
    pal.setColor(QPalette::Window, ColourFromBgr(bgr));
    window_->setPalette(pal);
    window_->setAutoFillBackground(true);
}

void Form::SetKeyPreview(bool on) {
    keyPreview_ = on;
    if (window_) {
        window_->SetKeyPreview(on);
    }
}

void Form::SetColourKey(std::uint32_t bgr) {
    if (!window_) {
        return;
    }
    colourKey_ = std::make_unique<ColourKey>(*window_, ColourFromBgr(bgr).rgb(), settings_.picture);
    colourKey_->Update();
}

const ColourKey* Form::ColourKeyInForce() const {
    return colourKey_.get();
}

void Form::BeginWindowMove() {
    if (window_) {
        window_->BeginMove();
    }
}

void Form::KeyPressed(std::int16_t keyAscii) {
    if (!keyPreview_) {
        return;
    }
    // The handler gets its own copy: the receiver of the key press gets the character unchanged.
    std::int16_t code = keyAscii;
    Form_KeyPress(code);
}

}  // namespace zorvik::runtime
