#pragma once
// A form: one program-wide object that owns a window and its controls. It passes through created (no
// window), loaded (window and controls exist, not visible), shown, hidden and unloaded (window and
// controls destroyed, the object lives on). Showing a form that is not loaded loads it first, and loading
// runs Form_Load to its end before the window is first mapped. The process ends once no form is loaded
// and the running handler has returned.

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>

#include "Twips.h"

class QWidget;

namespace zorvik::runtime {

class FormWindow;
class ColourKey;

class Form : public QObject {
    Q_OBJECT
  public:
    enum class State { Created, Loaded, Shown, Hidden, Unloaded };

    ~Form() override;

    State CurrentState() const { return state_; }
    bool IsLoaded() const {
        return state_ == State::Loaded || state_ == State::Shown || state_ == State::Hidden;
    }

    void Load();
    void Show();
    void Hide();
    void Unload();

    // The form's window while it is loaded, else null.
    QWidget* Window() const;

    // The form's background; 0x00BBGGRR.
    void SetBackColor(std::uint32_t bgr);
    // Every key press in the window reaches Form_KeyPress before the focused control, which still gets it.
    void SetKeyPreview(bool on);
    bool KeyPreview() const { return keyPreview_; }
    // From now on every pixel of exactly this colour is see-through and lets the pointer through. The
    // shape follows the window's contents whenever a control is shown, hidden, moved or resized.
    void SetColourKey(std::uint32_t bgr);
    // Lets the window manager move the window with the pointer until the button is released, as for a
    // drag of a caption; without a window manager the window follows the pointer itself.
    void BeginWindowMove();
    // The colour key in force, if any.
    const ColourKey* ColourKeyInForce() const;

    // Number of forms loaded in this process.
    static int LoadedCount();

  protected:
    struct WindowSettings {
        QString caption;
        TwipRect clientSize;  // width and height are used
        QPixmap picture;      // drawn at the top left corner at its own size
        QPixmap icon;
    };
    explicit Form(WindowSettings settings);

    // Builds the controls on a new window, in stacking order, topmost first.
    virtual void CreateControls(QWidget& window) = 0;
    virtual void Form_Load() {}
    virtual void Form_Unload(std::int16_t& Cancel) { (void)Cancel; }
    virtual void Form_KeyPress(std::int16_t& KeyAscii) { (void)KeyAscii; }
    virtual void Form_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y) {
        (void)Button, (void)Shift, (void)X, (void)Y;
    }
    // The window manager asked the window to close (its close button, Alt+F4, the window menu).
    virtual void WindowCloseRequested() { Unload(); }

  private:
    friend class FormWindow;
    void KeyPressed(std::int16_t keyAscii);

    WindowSettings settings_;
    State state_ = State::Created;
    QPointer<FormWindow> window_;
    std::unique_ptr<ColourKey> colourKey_;
    bool keyPreview_ = false;
    bool unloading_ = false;
};

}  // namespace zorvik::runtime
