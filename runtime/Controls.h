#pragma once
// The control kinds the forms are built from, each placed in twips on its form's window. Windowless
// controls (image, label, shape) are plain child widgets painted in stacking order; the text box and the
// sliders are ordinary Qt input widgets. Mouse and click events are passed on with the argument
// conventions the forms' handlers use: Button 1 left, 2 right, 4 middle; Shift 1 shift, 2 ctrl, 4 alt;
// X and Y in twips from the control's top left corner.

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSlider>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "Twips.h"

class QMouseEvent;

namespace zorvik::runtime {

using MouseHandler = std::function<void(std::int16_t button, std::int16_t shift, float x, float y)>;
using ClickHandler = std::function<void()>;

std::int16_t ButtonCode(Qt::MouseButton button);
std::int16_t ShiftCode(Qt::KeyboardModifiers modifiers);

// Places a control by its twip rectangle and remembers the twips, so a later move in twips is exact.
void PlaceInTwips(QWidget& control, const TwipRect& rect);
TwipRect TwipsOf(const QWidget& control);
// Moves a control's top edge, in twips, leaving everything else as it is.
void SetTopInTwips(QWidget& control, float topTwips);
float TopInTwips(const QWidget& control);

// The mouse events every windowless control can raise.
class MouseSource {
  public:
    MouseHandler MouseDown;
    MouseHandler MouseMove;
    ClickHandler Click;

  protected:
    void DispatchPress(QWidget& self, QMouseEvent* event);
    void DispatchMove(QWidget& self, QMouseEvent* event);
    void DispatchRelease(QWidget& self, QMouseEvent* event);

  private:
    bool leftPressed_ = false;
};

class Image : public QWidget, public MouseSource {
    Q_OBJECT
  public:
    Image(QWidget* parent, const QPixmap& picture, bool stretch);
    const QPixmap& Picture() const { return picture_; }
    bool Stretch() const { return stretch_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override { DispatchPress(*this, event); }
    void mouseMoveEvent(QMouseEvent* event) override { DispatchMove(*this, event); }
    void mouseReleaseEvent(QMouseEvent* event) override { DispatchRelease(*this, event); }

  private:
    QPixmap picture_;
    bool stretch_;
};

class Label : public QLabel, public MouseSource {
    Q_OBJECT
  public:
    // A transparent back style draws only the glyphs over whatever lies below.
    Label(QWidget* parent, const QString& caption, Qt::Alignment alignment, bool transparentBack);

    // The layout was drawn for fonts whose stand-ins here may be wider: steps the font down, keeping
    // its family, to the largest size not above its own at which every pixel of the caption lies
    // inside the label. Call once the label has its font and its size.
    void FitCaption();

  protected:
    void mousePressEvent(QMouseEvent* event) override { DispatchPress(*this, event); }
    void mouseMoveEvent(QMouseEvent* event) override { DispatchMove(*this, event); }
    void mouseReleaseEvent(QMouseEvent* event) override { DispatchRelease(*this, event); }
};

// A filled rectangle with a one-pixel solid border.
class Shape : public QWidget {
    Q_OBJECT
  public:
    Shape(QWidget* parent, const QColor& fill, const QColor& border);
    QColor Fill() const { return fill_; }
    QColor Border() const { return border_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor fill_;
    QColor border_;
};

class TextBox : public QLineEdit {
    Q_OBJECT
  public:
    TextBox(QWidget* parent, const QColor& background, bool border);
};

// A horizontal trackbar. Scroll is raised for every user action on it (drag, a click in the channel,
// arrow and page keys, the wheel) and Click for every mouse click on it, each time after the value has
// settled, whether or not it changed.
class Slider : public QSlider {
    Q_OBJECT
  public:
    struct Settings {
        int min = 0;
        int max = 10;
        int value = 0;
        int smallChange = 1;
        int largeChange = 5;
    };
    Slider(QWidget* parent, const Settings& settings);

    ClickHandler Scroll;
    ClickHandler Click;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void RaiseScroll();
    bool scrollPending_ = false;
    int scrollsRaised_ = 0;
};

// The open-file dialog component: holds its settings between uses and shows a modal dialog on request.
class FileDialog : public QObject {
    Q_OBJECT
  public:
    explicit FileDialog(QWidget* owner);

    QString DialogTitle;
    QString FileName;   // the full path after a choice; the pattern the dialog opens with before
    QString FileTitle;  // the chosen file's name without its folder
    QString Filter;

    // Shows the dialog and waits for it to close. True when the user chose a file; on cancel nothing
    // of the dialog's state changes.
    bool ShowOpen();

  private:
    QWidget* owner_;
    QString folder_;
};

// The dialog behind FileDialog. A wildcard pattern typed in the name field and confirmed relists the
// folder by that pattern instead of being taken as a file name.
class OpenFileDialog : public QFileDialog {
    Q_OBJECT
  public:
    OpenFileDialog(QWidget* parent, const QString& title, const QString& folder, const QString& pattern);
    static bool IsPattern(const QString& text);

  public slots:
    void accept() override;

  private:
    QLineEdit* NameEdit() const;
};

}  // namespace zorvik::runtime
