// The two windows built from their layouts, the form life cycle, the window shell, the drum keys and the
// transport panel, offscreen, with doubles for the media graph and the sample player.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <future>

#include "ColourKey.h"
#include "EngineGraph.h"
#include "FakeGraph.h"
#include "KitLoader.h"
#include "MusicControl.h"
#include "Program.h"
#include "Runtime.h"
#include "Skin.h"
#include "SoundControl.h"
#include "Zorv.h"
#include "ZorvSplash.h"

namespace zorvik::forms {
namespace {

struct PlayedSound {
    std::string path;
    std::uint32_t flags;
};

// Kits it is asked for: a path naming "broken" is refused, the Sounds folder loads as the program's own
// kit (no name), any other as a kit named as its folder.
class RecordingPlayer : public platform::SamplePlayer {
  public:
    RecordingPlayer(std::vector<PlayedSound>& played, int& prepared) : played_(played), prepared_(prepared) {}
    void Prepare() override { ++prepared_; }
    bool Play(const std::string& path, std::uint32_t flags) override {
        played_.push_back({path, flags});
        return true;
    }
    platform::KitLoad LoadKit(const std::string& path, const std::atomic<bool>&) const override {
        if (path.find("broken") != std::string::npos) {
            return {nullptr, {}, "it is broken", {}};
        }
        const QString name = QFileInfo(QString::fromStdString(path)).fileName();
        return {std::make_shared<platform::samples::LoadedKit>(),
                name == QStringLiteral("Sounds") ? std::string() : name.toStdString(),
                {},
                {}};
    }
    void UseKit(platform::samples::KitPtr kit) override { used.push_back(std::move(kit)); }
    std::vector<platform::samples::KitPtr> used;

  private:
    std::vector<PlayedSound>& played_;
    int& prepared_;
};

// Waits for a condition while the event loop runs, up to a deadline.
bool WaitFor(const std::function<bool()>& condition, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class FormsTest : public ::testing::Test {
  protected:
    test::GraphWorld graphs;
    std::vector<PlayedSound> played;
    int factoryCalls = 0;
    int prepared = 0;
    MusicControl music{graphs.Factory(), runtime::KeepAnsweringWhile};
    SoundControl sound{[this] {
        ++factoryCalls;
        return std::make_unique<RecordingPlayer>(played, prepared);
    }};
    std::unique_ptr<Program> program = std::make_unique<Program>(music, sound);
    int noFormLoaded = 0;
    std::vector<std::pair<QString, QString>> messages;

    void SetUp() override {
        runtime::SetNoFormLoadedHandler([this] { ++noFormLoaded; });
        runtime::SetMessageHandler(
            [this](const QString& title, const QString& text) { messages.emplace_back(title, text); });
    }
    void TearDown() override {
        program.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime::SetNoFormLoadedHandler({});
        runtime::SetMessageHandler({});
    }

    // Starts as a user does: the splash, then a press on it.
    Zorv& Open() {
        program->SplashForm().Show();
        QTest::mousePress(program->SplashForm().Window(), Qt::LeftButton);
        return program->MainForm();
    }
    template <class T = QWidget>
    T* Control(const char* name) {
        return program->MainForm().Window()->findChild<T*>(QString::fromLatin1(name));
    }
};

// ----- Layout -------------------------------------------------------------------------------------------

struct LayoutRow {
    const char* name;
    const char* kind;  // Qt class name
    int x, y, w, h;    // pixels
    const char* text;  // caption, or picture name for images
    const char* font;
    int tabIndex;
};

// Topmost first, as the window stacks them.
const LayoutRow kLayout[] = {
    {"MVolume", "zorvik::runtime::Slider", 144, 72, 73, 17, nullptr, nullptr, 12},
    {"MusicName", "zorvik::runtime::TextBox", 144, 48, 249, 19, "", "Arial", 11},
    {"MSpeed", "zorvik::runtime::Slider", 224, 72, 73, 17, nullptr, nullptr, 13},
    {"OpenRecorder", "zorvik::runtime::Label", 128, 144, 93, 20, "Open Recorder", "Arial", 16},
    {"Image9", "zorvik::runtime::Image", 120, 144, 100, 20, "PadPicture", nullptr, -1},
    {"MSpeLabel", "zorvik::runtime::Label", 224, 88, 73, 17, "Speed", "Arial", 15},
    {"MVolLabel", "zorvik::runtime::Label", 144, 88, 73, 17, "Volume", "Arial", 14},
    {"MPlay", "zorvik::runtime::Label", 331, 112, 25, 17, "Play", "Perpetua", 10},
    {"MStop", "zorvik::runtime::Label", 299, 112, 25, 17, "Stop", "Perpetua", 9},
    {"MLoad", "zorvik::runtime::Label", 357, 112, 25, 17, "Load", "Perpetua", 8},
    {"DrumsName(0)", "zorvik::runtime::Label", 16, 32, 92, 20, "Kick", "Arial", 0},
    {"DrumsName(1)", "zorvik::runtime::Label", 16, 56, 92, 20, "Snare", "Arial", 1},
    {"DrumsName(2)", "zorvik::runtime::Label", 16, 80, 92, 20, "Hi Hat", "Arial", 2},
    {"DrumsName(3)", "zorvik::runtime::Label", 16, 104, 92, 20, "Open Hi Hat", "Arial", 3},
    {"DrumsName(4)", "zorvik::runtime::Label", 16, 128, 92, 20, "High Tom", "Arial", 4},
    {"DrumsName(5)", "zorvik::runtime::Label", 16, 152, 92, 20, "Mid Tom", "Arial", 5},
    {"DrumsName(6)", "zorvik::runtime::Label", 16, 176, 92, 20, "Low Tom", "Arial", 6},
    {"DrumsName(7)", "zorvik::runtime::Label", 16, 200, 92, 20, "Crash", "Arial", 7},
    {"DrumPressed", "zorvik::runtime::Image", 8, 32, 100, 20, "PadPressedPicture", nullptr, -1},
    {"Image7", "zorvik::runtime::Image", 8, 200, 100, 20, "PadPicture", nullptr, -1},
    {"Image6", "zorvik::runtime::Image", 8, 176, 100, 20, "PadPicture", nullptr, -1},
    {"Image5", "zorvik::runtime::Image", 8, 152, 100, 20, "PadPicture", nullptr, -1},
    {"Image4", "zorvik::runtime::Image", 8, 128, 100, 20, "PadPicture", nullptr, -1},
    {"Image3", "zorvik::runtime::Image", 8, 104, 100, 20, "PadPicture", nullptr, -1},
    {"Image2", "zorvik::runtime::Image", 8, 80, 100, 20, "PadPicture", nullptr, -1},
    {"Image1", "zorvik::runtime::Image", 8, 56, 100, 20, "PadPicture", nullptr, -1},
    {"Kick", "zorvik::runtime::Image", 8, 32, 100, 20, "PadPicture", nullptr, -1},
    {"CloseControl", "zorvik::runtime::Image", 499, 0, 15, 15, "ClosePicture", nullptr, -1},
    {"MoveControl", "zorvik::runtime::Image", 0, 0, 500, 15, "TitleStripPicture", nullptr, -1},
    {"CloseControlOver", "zorvik::runtime::Image", 499, 0, 15, 15, "CloseOverPicture", nullptr, -1},
    {"DrumBackGround", "zorvik::runtime::Shape", 8, 32, 100, 187, nullptr, nullptr, -1},
    {"Image8", "zorvik::runtime::Image", 120, 32, 300, 100, "TransportPanelPicture", nullptr, -1},
    {"BackGround", "zorvik::runtime::Image", 0, 16, 514, 376, "BackgroundPicture", nullptr, -1},
};

TEST_F(FormsTest, TheMainWindowHoldsEveryControlInPlaceAndInStackingOrder) {
    Zorv& zorv = Open();
    QWidget* window = zorv.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(514, 238));
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Norvane\u00AE Studio Lines"));
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);

    QList<QWidget*> stack;  // topmost first
    for (QObject* child : window->children()) {
        if (child->isWidgetType()) {
            stack.prepend(static_cast<QWidget*>(child));
        }
    }
    ASSERT_EQ(stack.size(), static_cast<qsizetype>(std::size(kLayout)));
    for (std::size_t i = 0; i < std::size(kLayout); ++i) {
        const LayoutRow& row = kLayout[i];
        SCOPED_TRACE(row.name);
        QWidget* w = stack[static_cast<qsizetype>(i)];
        EXPECT_EQ(w->objectName(), QString::fromLatin1(row.name));
        EXPECT_STREQ(w->metaObject()->className(), row.kind);
        EXPECT_EQ(w->geometry(), QRect(row.x, row.y, row.w, row.h));
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->property("TabIndex").toInt(), row.tabIndex);
        if (row.font != nullptr) {
            EXPECT_EQ(w->font().family(), QString::fromLatin1(row.font));
            // A label may step down to fit its caption (below); nothing grows.
            if (qobject_cast<QLabel*>(w) != nullptr) {
                EXPECT_LE(w->font().pointSizeF(), 8.25);
            } else {
                EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 8.25);
            }
            EXPECT_TRUE(w->font().bold());
            EXPECT_FALSE(w->font().italic());
        }
        if (auto* label = qobject_cast<QLabel*>(w); label && row.text) {
            EXPECT_EQ(label->text(), QString::fromLatin1(row.text));
            const bool centred = QByteArray(row.name).startsWith("MSpe") ||
                                 QByteArray(row.name).startsWith("MVol") ||
                                 QByteArray(row.name) == "OpenRecorder";
            EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask,
                      centred ? Qt::AlignHCenter : Qt::AlignLeft);
            EXPECT_FALSE(label->autoFillBackground());
        }
        if (auto* image = qobject_cast<runtime::Image*>(w)) {
            EXPECT_EQ(image->Picture().toImage(), skin::Picture(row.text).toImage());
            EXPECT_EQ(image->Stretch(), QByteArray(row.name) == "BackGround");
        }
    }
    EXPECT_EQ(Control<QLabel>("DrumsName(0)")->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    auto* shape = Control<runtime::Shape>("DrumBackGround");
    EXPECT_EQ(shape->Fill(), QColor(128, 128, 128));
    EXPECT_EQ(shape->Border(), QColor(0, 0, 0));
    auto* text = Control<QLineEdit>("MusicName");
    EXPECT_EQ(text->palette().color(QPalette::Base), QColor(128, 128, 128));
    EXPECT_FALSE(text->hasFrame());
    // The stand-in faces are metric twins of the named ones.
    EXPECT_EQ(QFontInfo(text->font()).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(Control("MPlay")->font()).family(), QStringLiteral("EB Garamond"));
}

// The pixels of a label's caption drawn in FONT that fall outside the label: the text is drawn unclipped,
// with the fonts installed here, into a margin around it.
int InkOutside(const QLabel& label, const QFont& font) {
    constexpr int kMargin = 16;
    const QRect inside(QPoint(kMargin, kMargin), label.size());
    QImage ink(label.size() + QSize(2 * kMargin, 2 * kMargin), QImage::Format_ARGB32);
    ink.fill(Qt::transparent);
    QPainter painter(&ink);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(inside, static_cast<int>(label.alignment()) | Qt::TextDontClip, label.text());
    painter.end();
    int outside = 0;
    for (int y = 0; y < ink.height(); ++y) {
        for (int x = 0; x < ink.width(); ++x) {
            if (!inside.contains(x, y) && qAlpha(ink.pixel(x, y)) != 0) {
                ++outside;
            }
        }
    }
    return outside;
}

// The caption fits its label, at the layout's 8.25 pt or, where the face is wider, at the largest size
// that fits.
void ExpectTheLargestSizeThatFits(const QLabel& label) {
    const QFont font = label.font();
    SCOPED_TRACE(label.objectName().toStdString() + " \"" + label.text().toStdString() + "\" in " +
                 QFontInfo(font).family().toStdString() + " at " + std::to_string(font.pointSizeF()) +
                 " pt, " + std::to_string(label.width()) + " px wide");
    EXPECT_EQ(InkOutside(label, font), 0);
    EXPECT_LE(font.pointSizeF(), 8.25);
    if (font.pointSizeF() < 8.25) {
        QFont larger = font;
        larger.setPointSizeF(font.pointSizeF() + 0.25);
        EXPECT_GT(InkOutside(label, larger), 0);
    }
}

TEST_F(FormsTest, EveryCaptionLiesWhollyInsideItsLabel) {
    Zorv& zorv = Open();
    const auto labels = zorv.Window()->findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    for (const QLabel* label : labels) {
        ExpectTheLargestSizeThatFits(*label);
    }
}

TEST(LabelTest, ACaptionTooWideForItsLabelStepsDownKeepingItsFace) {
    QWidget window;
    for (const Qt::Alignment alignment : {Qt::AlignLeft, Qt::AlignHCenter}) {
        for (const int width : {90, 75, 62}) {
            runtime::Label label(&window, QStringLiteral("Open Recorder"), alignment, true);
            QFont font(QStringLiteral("Arial"));
            font.setPointSizeF(8.25);
            font.setBold(true);
            label.setFont(font);
            label.resize(width, 20);
            label.FitCaption();
            EXPECT_EQ(label.font().family(), QStringLiteral("Arial"));
            EXPECT_TRUE(label.font().bold());
            ExpectTheLargestSizeThatFits(label);
        }
    }
}

struct SliderRow {
    const char* name;
    int min, max, value;
};

TEST_F(FormsTest, SlidersAndTheDialogKeepTheirStoredSettings) {
    Zorv& zorv = Open();
    for (const SliderRow& row : {SliderRow{"MSpeed", 50, 150, 100}, SliderRow{"MVolume", -100, 0, 0}}) {
        SCOPED_TRACE(row.name);
        auto* slider = Control<QSlider>(row.name);
        EXPECT_EQ(slider->orientation(), Qt::Horizontal);
        EXPECT_EQ(slider->minimum(), row.min);
        EXPECT_EQ(slider->maximum(), row.max);
        EXPECT_EQ(slider->value(), row.value);
        EXPECT_EQ(slider->singleStep(), 1);
        EXPECT_EQ(slider->pageStep(), 5);
        EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
    }
    EXPECT_EQ(zorv.MusicLoader->DialogTitle, QStringLiteral("Music Loader"));
    EXPECT_EQ(zorv.MusicLoader->FileName, QStringLiteral("*.MP3"));
    EXPECT_TRUE(zorv.MusicLoader->Filter.isEmpty());
}

TEST_F(FormsTest, TheSplashIsABorderlessPictureWindow) {
    ZorvSplash& splash = program->SplashForm();
    splash.Show();
    ASSERT_NE(splash.Window(), nullptr);
    EXPECT_EQ(splash.Window()->size(), QSize(300, 100));
    EXPECT_TRUE(splash.Window()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.Window()->findChildren<QWidget*>().isEmpty());
    EXPECT_EQ(splash.Window()->grab().toImage().convertToFormat(QImage::Format_RGB32),
              skin::Picture("SplashPicture").toImage().convertToFormat(QImage::Format_RGB32));
}

// ----- Life cycle ---------------------------------------------------------------------------------------

class ProbeForm : public runtime::Form {
  public:
    ProbeForm()
        : Form({.caption = QStringLiteral("probe"),
                .clientSize = {0, 0, 1500, 1500},
                .picture = {},
                .icon = {}}) {}
    int loads = 0;
    bool visibleDuringLoad = true;
    std::function<void(std::int16_t&)> onUnload;

  protected:
    void CreateControls(QWidget&) override {}
    void Form_Load() override {
        ++loads;
        visibleDuringLoad = Window()->isVisible();
    }
    void Form_Unload(std::int16_t& Cancel) override {
        if (onUnload) {
            onUnload(Cancel);
        }
    }
};

TEST_F(FormsTest, ShowLoadsFirstAndFormLoadRunsOnceBeforeTheWindowIsMapped) {
    ProbeForm form;
    EXPECT_EQ(form.CurrentState(), runtime::Form::State::Created);
    EXPECT_EQ(form.Window(), nullptr);
    form.Show();
    form.Show();
    form.Hide();
    form.Show();
    EXPECT_EQ(form.loads, 1);
    EXPECT_FALSE(form.visibleDuringLoad);
    EXPECT_EQ(form.CurrentState(), runtime::Form::State::Shown);
    form.Unload();
    EXPECT_EQ(form.CurrentState(), runtime::Form::State::Unloaded);
    EXPECT_EQ(form.Window(), nullptr);
    EXPECT_EQ(noFormLoaded, 1);
}

TEST_F(FormsTest, ACancelledUnloadKeepsTheFormAndTheProcess) {
    ProbeForm form;
    form.onUnload = [](std::int16_t& cancel) { cancel = 1; };
    form.Show();
    form.Unload();
    EXPECT_TRUE(form.IsLoaded());
    EXPECT_EQ(noFormLoaded, 0);
    form.onUnload = nullptr;
    form.Unload();
    EXPECT_EQ(noFormLoaded, 1);
}

TEST_F(FormsTest, AnyButtonOnTheSplashOpensTheMainWindowAndHidesTheSplash) {
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        program = std::make_unique<Program>(music, sound);
        ZorvSplash& splash = program->SplashForm();
        splash.Show();
        EXPECT_FALSE(program->ZorvExists());
        QTest::mousePress(splash.Window(), button, Qt::ControlModifier, QPoint(299, 99));
        ASSERT_TRUE(program->ZorvExists());
        EXPECT_EQ(program->MainForm().CurrentState(), runtime::Form::State::Shown);
        EXPECT_EQ(splash.CurrentState(), runtime::Form::State::Hidden);
        EXPECT_TRUE(splash.IsLoaded());
    }
}

TEST_F(FormsTest, TheCloseCommandUnloadsTheMainFormThenTheSplashThenEnds) {
    Zorv& zorv = Open();
    zorv.CloseControl->hide();  // the hover state, where the close picture can be clicked
    bool splashLoadedWhileMusicClosed = false;
    music.LoadMusic("song.mp3");
    graphs.log.clear();
    // The close runs Form_Unload, which stops the music while the splash is still loaded.
    auto* over = zorv.CloseControlOver.data();
    QObject::connect(over, &QObject::destroyed, [] {});
    QTest::mouseClick(over, Qt::LeftButton, {}, QPoint(7, 7));
    splashLoadedWhileMusicClosed = graphs.log.size() >= 1;
    EXPECT_TRUE(splashLoadedWhileMusicClosed);
    EXPECT_EQ(graphs.Joined(), "Stop#1 release#1");
    EXPECT_EQ(zorv.CurrentState(), runtime::Form::State::Unloaded);
    EXPECT_EQ(program->SplashForm().CurrentState(), runtime::Form::State::Unloaded);
    EXPECT_EQ(noFormLoaded, 1);
    EXPECT_EQ(runtime::Form::LoadedCount(), 0);
}

TEST_F(FormsTest, ClosingTheMainWindowByTheWindowManagerEndsTheProgramToo) {
    Zorv& zorv = Open();
    music.LoadMusic("song.mp3");
    graphs.log.clear();
    zorv.Window()->close();
    EXPECT_EQ(graphs.Joined(), "Stop#1 release#1");
    EXPECT_FALSE(zorv.IsLoaded());
    EXPECT_FALSE(program->SplashForm().IsLoaded());
    EXPECT_EQ(noFormLoaded, 1);
}

// ----- Window shell -------------------------------------------------------------------------------------

TEST_F(FormsTest, OnlyRowFifteenIsSeeThroughAndStaysSoWhenControlsChange) {
    Zorv& zorv = Open();
    const QRegion full(0, 0, 514, 238);
    const QRegion expected = full.subtracted(QRegion(0, 15, 514, 1));
    ASSERT_NE(zorv.ColourKeyInForce(), nullptr);
    EXPECT_EQ(zorv.ColourKeyInForce()->Region(), expected);
    EXPECT_EQ(zorv.Window()->mask(), expected);
    zorv.CloseControl->hide();
    ASSERT_TRUE(WaitFor([&] { return zorv.Window()->mask() == expected; }));
    QTest::keyClick(zorv.Window(), '8');  // any hit moves the marker; none here
    QTest::keyClick(zorv.Window(), '+');
    zorv.CloseControl->show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(WaitFor([&] { return zorv.ColourKeyInForce()->Region() == expected; }));
}

TEST(ColourKeyTest, OnlyTheExactKeyColourIsSeeThrough) {
    QImage image(5, 1, QImage::Format_RGB32);
    const QRgb pixels[] = {qRgb(0, 255, 255), qRgb(1, 255, 255), qRgb(0, 254, 255), qRgb(0, 255, 254),
                           qRgb(0, 255, 255)};
    for (int x = 0; x < 5; ++x) {
        image.setPixel(x, 0, pixels[x]);
    }
    EXPECT_EQ(runtime::OpaqueRegion(image, qRgb(0, 255, 255)), QRegion(1, 0, 3, 1));
}

// A control moved, resized, hidden or shown leaves the shape exactly as a whole-window recompute
// would, though only the rectangles it left and entered are rendered again.
struct ShapeStep {
    const char* what;
    std::function<void(QWidget& marker, QWidget& plate)> change;
};

void PrintTo(const ShapeStep& step, std::ostream* os) {
    *os << step.what;
}

using SeeThrough = runtime::ColourKey::SeeThrough;

class ColourKeyStepTest : public testing::TestWithParam<std::tuple<std::vector<ShapeStep>, SeeThrough>> {};

// The pixels of `image` whose alpha is not 0.
QRegion DrawnRegion(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                region += QRect(x, y, 1, 1);
            }
        }
    }
    return region;
}

// A window that draws its picture, as a form's does.
class PictureWindow : public QWidget {
  public:
    QPixmap picture;

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(0, 0, picture); }
};

TEST_P(ColourKeyStepTest, ChangingOneControlGivesTheShapeOfAWholeRender) {
    const auto& [steps, how] = GetParam();
    constexpr QRgb kKey = qRgb(0, 255, 255);
    PictureWindow window;
    window.resize(120, 80);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(kKey));
    window.setPalette(palette);
    // A picture with a see-through band across the middle and an opaque top.
    QPixmap picture(120, 80);
    picture.fill(QColor(kKey));
    {
        QPainter painter(&picture);
        painter.fillRect(0, 0, 120, 30, Qt::darkGreen);
    }
    window.picture = picture;
    auto opaque = [](QWidget& w, const QRect& at, QColor colour) {
        w.setGeometry(at);
        w.setAutoFillBackground(true);
        QPalette p = w.palette();
        p.setColor(QPalette::Window, colour);
        w.setPalette(p);
    };
    QWidget plate(&window);
    opaque(plate, QRect(70, 40, 40, 30), Qt::gray);
    QWidget marker(&window);
    opaque(marker, QRect(5, 5, 30, 8), Qt::red);
    // A control of the key colour itself, over the opaque top: see-through too.
    QWidget hole(&window);
    opaque(hole, QRect(60, 4, 20, 6), QColor(kKey));
    runtime::ColourKey key(window, kKey, picture, how);
    window.show();
    key.Update();
    for (const ShapeStep& step : steps) {
        SCOPED_TRACE(step.what);
        step.change(marker, plate);
        const QRegion whole = runtime::OpaqueRegion(runtime::RenderWindow(window, picture), kKey);
        EXPECT_FALSE(whole.contains(QPoint(65, 6)));
        // The same pixels; a region built in other steps may cut them into other rectangles.
        ASSERT_TRUE(WaitFor([&] { return (key.Region() ^ whole).isEmpty(); }));
        ASSERT_TRUE((window.mask() ^ whole).isEmpty());
        if (how == SeeThrough::kByAlpha) {
            // What the window draws: nothing at all where it is see-through, every pixel elsewhere. (The
            // offscreen platform's backing store has no alpha; the Wayland end-to-end test looks at the
            // screen.)
            ASSERT_TRUE((DrawnRegion(window.grab().toImage()) ^ whole).isEmpty());
        }
    }
}

const ShapeStep kIntoTheBand{"marker into the see-through band", [](QWidget& m, QWidget&) { m.move(5, 35); }};
const ShapeStep kAlongTheBand{"marker along the band", [](QWidget& m, QWidget&) { m.move(40, 33); }};
const ShapeStep kBackUp{"marker back into the opaque top", [](QWidget& m, QWidget&) { m.move(5, 10); }};
const ShapeStep kOntoThePlate{"marker half onto the plate", [](QWidget& m, QWidget&) { m.move(90, 45); }};
const ShapeStep kGrow{"plate grows", [](QWidget&, QWidget& p) { p.resize(50, 38); }};
const ShapeStep kShrink{"plate shrinks", [](QWidget&, QWidget& p) { p.resize(10, 10); }};
const ShapeStep kHide{"plate hidden", [](QWidget&, QWidget& p) { p.hide(); }};
const ShapeStep kShow{"plate shown", [](QWidget&, QWidget& p) { p.show(); }};
const ShapeStep kTwice{"marker moved twice before the update", [](QWidget& m, QWidget&) {
                           m.move(60, 50);
                           m.move(0, 70);
                       }};

INSTANTIATE_TEST_SUITE_P(
    Steps, ColourKeyStepTest,
    testing::Combine(testing::Values(std::vector<ShapeStep>{kIntoTheBand, kAlongTheBand, kBackUp},
                                     std::vector<ShapeStep>{kOntoThePlate, kGrow, kShrink, kIntoTheBand},
                                     std::vector<ShapeStep>{kHide, kOntoThePlate, kShow, kTwice}),
                     testing::Values(SeeThrough::kByShape, SeeThrough::kByAlpha)));

TEST_F(FormsTest, TheCloseButtonSwapsToItsHoverPictureAndBackOnlyOverTheBackground) {
    Zorv& zorv = Open();
    struct Step {
        const char* over;
        bool closeVisible;
    };
    // Leaving the close button for the drag strip, or out of the window, keeps the hover picture.
    const Step steps[] = {{"CloseControl", false}, {"MoveControl", false}, {"BackGround", true},
                          {"CloseControl", false}, {"Image8", false},      {"BackGround", true}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.over);
        QTest::mouseMove(Control(step.over), QPoint(3, 3));
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(Control(step.over), &move);
        EXPECT_EQ(zorv.CloseControl->isVisible(), step.closeVisible);
    }
}

TEST_F(FormsTest, OnlyALeftPressOnTheDragStripMovesTheWindow) {
    Zorv& zorv = Open();
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(Control("MoveControl"), button, {}, QPoint(100, 5));
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        QTest::mouseRelease(Control("MoveControl"), button, {}, QPoint(100, 5));
    }
    // Offscreen there is no window manager: the window follows the pointer itself.
    QTest::mousePress(Control("MoveControl"), Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_EQ(QWidget::mouseGrabber(), zorv.Window());
    QTest::mouseRelease(zorv.Window(), Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(FormsTest, OpenRecorderStartsTheRecorderOnEveryClickAndSaysSoWhenItIsMissing) {
    Zorv& zorv = Open();
    const QString path = Zorv::RecorderPath();
    ASSERT_FALSE(QFile::exists(path));
    QTest::mouseClick(Control("OpenRecorder"), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_TRUE(messages[0].second.contains(path));
    EXPECT_EQ(zorv.CurrentState(), runtime::Form::State::Shown);

    // A stand-in recorder that notes each start and its arguments.
    QTemporaryDir dir;
    const QString marks = dir.filePath(QStringLiteral("starts"));
    {
        QFile script(path);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(marks).toUtf8());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QTest::mouseClick(Control("OpenRecorder"), Qt::LeftButton);
    QTest::mouseClick(Control("OpenRecorder"), Qt::LeftButton);
    const bool bothStarted = WaitFor([&] {
        QFile f(marks);
        return f.open(QIODevice::ReadOnly) && f.readAll().count("--minimized") == 2;
    });
    QFile::remove(path);
    EXPECT_TRUE(bothStarted);
    EXPECT_EQ(messages.size(), 1U);
}

// ----- Drum keys ----------------------------------------------------------------------------------------

struct KeyRow {
    char key;
    const char* sample;  // nullptr: not a drum key
    int markerTop;       // twips
};

class DrumKeyTest : public FormsTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(DrumKeyTest, TheCharacterPlaysItsSampleAndMovesTheMarkerEvenWithTheTextBoxFocused) {
    Zorv& zorv = Open();
    zorv.Window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(zorv.Window()));
    zorv.MusicName->setFocus();
    ASSERT_TRUE(zorv.MusicName->hasFocus());
    std::size_t playedWhenTextBoxGotIt = 99;
    int keysAtTextBox = 0;
    struct Spy : QObject {
        std::function<void()> onKey;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) {
                onKey();
            }
            return false;
        }
    } spy;
    spy.onKey = [&] {
        ++keysAtTextBox;
        playedWhenTextBoxGotIt = played.size();
    };
    zorv.MusicName->installEventFilter(&spy);
    const KeyRow row = GetParam();
    if (row.key == '\r') {
        QTest::keyClick(zorv.MusicName, Qt::Key_Return);
    } else {
        QTest::keyClick(zorv.MusicName, row.key);
    }
    EXPECT_EQ(keysAtTextBox, 1);
    if (row.sample == nullptr) {
        EXPECT_TRUE(played.empty());
        EXPECT_EQ(runtime::TopInTwips(*zorv.DrumPressed), 480.0f);
        return;
    }
    ASSERT_EQ(played.size(), 1U);
    EXPECT_EQ(playedWhenTextBoxGotIt, 1U) << "the form's handler runs first";
    EXPECT_EQ(played[0].path, (runtime::ApplicationFolder() + QString::fromLatin1(row.sample)).toStdString());
    EXPECT_EQ(played[0].flags, 1U);
    EXPECT_EQ(runtime::TopInTwips(*zorv.DrumPressed), static_cast<float>(row.markerTop));
    EXPECT_EQ(zorv.DrumPressed->y(), (row.markerTop + 7) / 15);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DrumKeyTest,
    ::testing::Values(KeyRow{'1', "/Sounds/Kick.wav", 480}, KeyRow{'2', "/Sounds/Snare.wav", 840},
                      KeyRow{'3', "/Sounds/Hi Hat.wav", 1200}, KeyRow{'.', "/Sounds/Open Hi Hat.wav", 1560},
                      KeyRow{'4', "/Sounds/High Tom.wav", 1920}, KeyRow{'5', "/Sounds/Mid Tom.wav", 2280},
                      KeyRow{'6', "/Sounds/Low Tom.wav", 2640}, KeyRow{'+', "/Sounds/Crash.wav", 3000},
                      KeyRow{'0', nullptr, 0}, KeyRow{'7', nullptr, 0}, KeyRow{'8', nullptr, 0},
                      KeyRow{'9', nullptr, 0}, KeyRow{'-', nullptr, 0}, KeyRow{'*', nullptr, 0},
                      KeyRow{'/', nullptr, 0}, KeyRow{'a', nullptr, 0}, KeyRow{',', nullptr, 0},
                      KeyRow{'\r', nullptr, 0}));

TEST_F(FormsTest, TheSamplePlayerIsPreparedWhenTheWindowOpensAndEachHitAndRepeatPlaysAgain) {
    program->SplashForm().Show();
    EXPECT_EQ(factoryCalls, 0) << "the splash plays no sound";
    Zorv& zorv = Open();
    EXPECT_EQ(factoryCalls, 1);
    EXPECT_EQ(prepared, 1) << "the output opens with the window, before the first hit";
    QTest::keyClick(zorv.Window(), '1');
    QTest::keyClick(zorv.Window(), '2');
    QTest::keyPress(zorv.Window(), '2');
    QKeyEvent repeat(QEvent::KeyPress, '2', Qt::NoModifier, QStringLiteral("2"), true);
    QApplication::sendEvent(zorv.Window(), &repeat);
    EXPECT_EQ(factoryCalls, 1);
    ASSERT_EQ(played.size(), 4U);
    EXPECT_EQ(runtime::TopInTwips(*zorv.DrumPressed), 840.0f);
    // Keys reach the form with a slider focused as well, once each.
    zorv.MSpeed->setFocus();
    QTest::keyClick(zorv.MSpeed, '6');
    EXPECT_EQ(played.size(), 5U);
}

// A kit dropped on the window loads in the background and takes over, its name in the title; a broken
// one leaves the kit in use and a message says why. What is not a kit is not taken.
TEST_F(FormsTest, ADroppedKitTakesOverAndABrokenOneSaysWhy) {
    Zorv& zorv = Open();
    QTemporaryDir dir;
    auto drop = [&](const QString& name) {
        const QString path = dir.filePath(name);
        QDir().mkpath(path);
        QFile xml(path + QStringLiteral("/drumkit.xml"));
        EXPECT_TRUE(xml.open(QIODevice::WriteOnly));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zorv.Window(), &enter);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zorv.Window(), &dropped);
        return enter.isAccepted();
    };
    const QString before = zorv.Window()->windowTitle();
    EXPECT_TRUE(drop(QStringLiteral("Layered Kit")));
    ASSERT_TRUE(
        WaitFor([&] { return zorv.Window()->windowTitle().endsWith(QStringLiteral("Layered Kit")); }));
    EXPECT_TRUE(drop(QStringLiteral("broken kit")));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    EXPECT_EQ(messages.back().first, QStringLiteral("Drum Kit"));
    EXPECT_TRUE(messages.back().second.contains(QStringLiteral("it is broken")));
    EXPECT_TRUE(zorv.Window()->windowTitle().endsWith(QStringLiteral("Layered Kit")))
        << "the kit in use stays";
    EXPECT_NE(before, zorv.Window()->windowTitle());

    QMimeData text;
    text.setText(QStringLiteral("not a kit"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zorv.Window(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

// ----- Transport panel ----------------------------------------------------------------------------------

// Answers the next modal file dialog from the event loop.
void AnswerDialog(std::function<void(QFileDialog&)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            AnswerDialog(answer);
            return;
        }
        answer(*dialog);
    });
}

class TransportTest : public FormsTest {
  protected:
    QTemporaryDir dir;
    QString Song(const QString& name) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }
    void Choose(Zorv& zorv, const QString& path) {
        AnswerDialog([path](QFileDialog& d) {
            d.selectFile(path);
            static_cast<QDialog&>(d).accept();
        });
        QTest::mouseClick(zorv.MLoad, Qt::LeftButton);
    }
};

TEST_F(TransportTest, LoadShowsTheTitleLoadsThePathAndAppliesTheSliders) {
    Zorv& zorv = Open();
    const QString path = Song(QStringLiteral("Tëst – tone ü.mp3"));
    zorv.MSpeed->setValue(150);
    zorv.MVolume->setValue(-50);
    QString title;
    AnswerDialog([&](QFileDialog& d) {
        title = d.windowTitle();
        d.selectFile(path);
        static_cast<QDialog&>(d).accept();
    });
    QTest::mouseClick(zorv.MLoad, Qt::LeftButton);
    EXPECT_EQ(title, QStringLiteral("Music Loader"));
    EXPECT_EQ(zorv.MusicName->text(), QStringLiteral(" Tëst – tone ü.mp3"));
    EXPECT_EQ(graphs.Joined(),
              "create#1 RenderFile#1(" + path.toStdString() +
                  ") put_Volume#1(0) put_Balance#1(0) put_Rate#1(1) put_CurrentPosition#1(0) "
                  "put_Rate#1(1.5) put_Volume#1(-2000)");
    EXPECT_TRUE(messages.empty());
}

// A song dropped on the window, or named on the command line (a file manager's "Open with"), loads as
// "Load" loads a chosen one: its title in MusicName, the sliders applied, and the dialog next opens on it.
TEST_F(TransportTest, ADroppedSongOrOneNamedOnTheCommandLineLoadsAsLoadWould) {
    struct Row {
        const char* name;
        bool commandLine;
    };
    for (const Row& row : {Row{"dropped on the window", false}, Row{"named on the command line", true}}) {
        SCOPED_TRACE(row.name);
        const QString path = Song(QStringLiteral("Dröpped – song.ogg"));
        if (row.commandLine) {
            program->SetSongToOpen(path);
        }
        Zorv& zorv = Open();
        zorv.MSpeed->setValue(50);
        if (!row.commandLine) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(zorv.Window(), &enter);
            EXPECT_TRUE(enter.isAccepted());
            QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(zorv.Window(), &dropped);
        }
        ASSERT_TRUE(WaitFor([&] { return zorv.MusicName->text() == QStringLiteral(" Dröpped – song.ogg"); }));
        EXPECT_NE(graphs.Joined().find("RenderFile#" + std::to_string(graphs.created) + "(" +
                                       path.toStdString() + ")"),
                  std::string::npos)
            << graphs.Joined();
        EXPECT_NE(graphs.Joined().find("put_Rate#" + std::to_string(graphs.created) + "(0.5)"),
                  std::string::npos);
        EXPECT_EQ(zorv.MusicLoader->FileName, path);
        EXPECT_TRUE(messages.empty());
        zorv.Unload();
        program = std::make_unique<Program>(music, sound);
    }
}

TEST_F(TransportTest, TheDialogOpensOnThePatternAndATypedPatternRelistsCaseInsensitively) {
    Zorv& zorv = Open();
    Song(QStringLiteral("a.mp3"));
    Song(QStringLiteral("b.ogg"));
    Song(QStringLiteral("C.OGG"));
    zorv.MusicLoader->FileName = dir.filePath(QStringLiteral("*.MP3"));
    QStringList first, second;
    QString nameField;
    bool stillOpen = false;
    auto listed = [](QFileDialog& d) {
        QStringList names;
        auto* view = d.findChild<QListView*>(QStringLiteral("listView"));
        WaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; });
        for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i) {
            names << view->model()->index(i, 0, view->rootIndex()).data().toString();
        }
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    AnswerDialog([&](QFileDialog& d) {
        auto* edit = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        nameField = edit->text();
        first = listed(d);
        edit->setText(QStringLiteral("*.ogg"));
        static_cast<QDialog&>(d).accept();
        stillOpen = d.isVisible();
        WaitFor([&] { return listed(d).size() == 2; });
        second = listed(d);
        d.reject();
    });
    QTest::mouseClick(zorv.MLoad, Qt::LeftButton);
    EXPECT_EQ(nameField, QStringLiteral("*.MP3"));
    EXPECT_EQ(first, QStringList{QStringLiteral("a.mp3")});
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(second, (QStringList{QStringLiteral("b.ogg"), QStringLiteral("C.OGG")}));
}

TEST_F(TransportTest, CancellingTheDialogChangesNothing) {
    Zorv& zorv = Open();
    Choose(zorv, Song(QStringLiteral("one.mp3")));
    zorv.MPlay_Click();
    graphs.log.clear();
    AnswerDialog([](QFileDialog& d) { d.reject(); });
    QTest::mouseClick(zorv.MLoad, Qt::LeftButton);
    EXPECT_EQ(zorv.MusicName->text(), QStringLiteral(" one.mp3"));
    EXPECT_TRUE(graphs.log.empty()) << graphs.Joined();
}

TEST_F(TransportTest, AFileThatCannotBePlayedIsReportedByName) {
    Zorv& zorv = Open();
    graphs.failing = {"RenderFile"};
    Choose(zorv, Song(QStringLiteral("broken.mp3")));
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].first, QStringLiteral("Music Loader"));
    EXPECT_TRUE(messages[0].second.contains(QStringLiteral("broken.mp3")));
    EXPECT_TRUE(messages[0].second.contains(QStringLiteral("the fake graph refused it")));
    // The drums keep working.
    QTest::keyClick(zorv.Window(), '3');
    EXPECT_EQ(played.size(), 1U);
}

TEST_F(TransportTest, PlayAndStopDriveTheEngine) {
    Zorv& zorv = Open();
    QTest::mouseClick(zorv.MPlay, Qt::LeftButton);
    QTest::mouseClick(zorv.MStop, Qt::LeftButton);
    EXPECT_TRUE(graphs.log.empty());
    Choose(zorv, Song(QStringLiteral("x.mp3")));
    graphs.log.clear();
    QTest::mouseClick(zorv.MPlay, Qt::LeftButton);
    QTest::mouseClick(zorv.MStop, Qt::LeftButton);
    EXPECT_EQ(graphs.Joined(), "Run#1 Stop#1 put_CurrentPosition#1(0)");
}

// A song that takes its time to load (a file on a slow drive): the window answers meanwhile, and what is
// asked of the transport then is done once the song is ready.
TEST_F(TransportTest, TheWindowAnswersWhileASongLoadsAndDoesWhatWasAskedOnceItHas) {
    struct Row {
        const char* name;
        std::function<void(Zorv&)> meanwhile;  // while the first song loads
        std::function<void(Zorv&, const std::string& log)> after;
    };
    const QString second = Song(QStringLiteral("second.ogg"));
    const Row rows[] = {
        {"a drum key plays at once",
         [&](Zorv& zorv) {
             QTest::keyClick(zorv.Window(), '2');
             EXPECT_EQ(played.size(), 1U);
         },
         [](Zorv&, const std::string& log) { EXPECT_EQ(log.find("Run"), std::string::npos) << log; }},
        {"Play starts the song once it is ready",
         [](Zorv& zorv) { QTest::mouseClick(zorv.MPlay, Qt::LeftButton); },
         [](Zorv&, const std::string& log) { EXPECT_TRUE(log.ends_with(" Run#1")) << log; }},
        {"Play, then Stop, leaves it stopped",
         [](Zorv& zorv) {
             QTest::mouseClick(zorv.MPlay, Qt::LeftButton);
             QTest::mouseClick(zorv.MStop, Qt::LeftButton);
         },
         [](Zorv&, const std::string& log) { EXPECT_EQ(log.find("Run"), std::string::npos) << log; }},
        {"a speed set meanwhile is the song's",
         [](Zorv& zorv) { QTest::keyClick(zorv.MSpeed, Qt::Key_PageDown); },
         [](Zorv& zorv, const std::string& log) {
             const std::string rate = test::FakeGraph::Exact(Zorv::SpeedRate(zorv.MSpeed->value()));
             EXPECT_NE(log.rfind("put_Rate#1(" + rate + ")"), std::string::npos) << log;
             EXPECT_NE(zorv.MSpeed->value(), 100);
         }},
        {"the song chosen meanwhile loads next", [&](Zorv& zorv) { zorv.OpenSong(second); },
         [&](Zorv& zorv, const std::string& log) {
             EXPECT_NE(log.find("release#1 create#2 RenderFile#2(" + second.toStdString() + ")"),
                       std::string::npos)
                 << log;
             EXPECT_EQ(zorv.MusicName->text(), QStringLiteral(" second.ogg"));
         }},
        {"closing waits for the song, then closes",
         [&](Zorv& zorv) {
             zorv.CloseControlOver_Click();
             EXPECT_TRUE(zorv.IsLoaded());
             EXPECT_EQ(noFormLoaded, 0);
         },
         [&](Zorv& zorv, const std::string& log) {
             EXPECT_FALSE(zorv.IsLoaded());
             EXPECT_EQ(noFormLoaded, 1);
             EXPECT_NE(log.find("RenderFile#1"), std::string::npos) << log;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Zorv& zorv = Open();
        graphs.log.clear();
        graphs.created = 0;
        played.clear();
        noFormLoaded = 0;
        std::atomic<bool> rendering{false};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        graphs.whileRendering = [&rendering, released] {
            rendering = true;
            released.wait_for(std::chrono::seconds(10));  // a hang guard: the test releases it
            rendering = false;
        };
        QTimer::singleShot(0, [&] {
            ASSERT_TRUE(WaitFor([&] { return rendering.load(); }));
            row.meanwhile(zorv);
            EXPECT_TRUE(rendering) << "the window answered only once the song had loaded";
            release.set_value();
        });
        zorv.OpenSong(Song(QStringLiteral("slow.mp3")));
        row.after(zorv, graphs.Joined());
        graphs.whileRendering = {};
        if (zorv.IsLoaded()) {
            zorv.Unload();
        }
        program = std::make_unique<Program>(music, sound);
    }
}

struct SliderMapRow {
    const char* slider;
    int value;
    const char* sent;
};

class SliderMapTest : public TransportTest, public ::testing::WithParamInterface<SliderMapRow> {};

TEST_P(SliderMapTest, EveryScrollAndClickSendsTheCurrentValue) {
    Zorv& zorv = Open();
    Choose(zorv, Song(QStringLiteral("x.mp3")));
    auto* slider = Control<runtime::Slider>(GetParam().slider);
    slider->setValue(GetParam().value);
    graphs.log.clear();
    slider->Scroll();
    slider->Click();
    EXPECT_EQ(graphs.Joined(), std::string(GetParam().sent) + " " + GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, SliderMapTest,
                         ::testing::Values(SliderMapRow{"MSpeed", 50, "put_Rate#1(0.5)"},
                                           SliderMapRow{"MSpeed", 100, "put_Rate#1(1)"},
                                           SliderMapRow{"MSpeed", 133,
                                                        "put_Rate#1(1.33000004291534423828125)"},
                                           SliderMapRow{"MSpeed", 150, "put_Rate#1(1.5)"},
                                           SliderMapRow{"MVolume", -100, "put_Volume#1(-4000)"},
                                           SliderMapRow{"MVolume", -50, "put_Volume#1(-2000)"},
                                           SliderMapRow{"MVolume", 0, "put_Volume#1(0)"}));

TEST_F(TransportTest, KeysWheelAndMouseOnASliderReachTheEngineChangedOrNot) {
    Zorv& zorv = Open();
    Choose(zorv, Song(QStringLiteral("x.mp3")));
    graphs.log.clear();
    zorv.MSpeed->setFocus();
    QTest::keyClick(zorv.MSpeed, Qt::Key_Right);
    QTest::keyClick(zorv.MSpeed, Qt::Key_PageDown);
    ASSERT_TRUE(WaitFor([&] { return graphs.log.size() == 2; }));
    EXPECT_EQ(graphs.Joined(), "put_Rate#1(1.0099999904632568359375) put_Rate#1(0.959999978542327880859375)");
    graphs.log.clear();
    zorv.MVolume->setFocus();
    QTest::keyClick(zorv.MVolume, Qt::Key_Up);  // already at 0: still sent
    QWheelEvent wheel(QPointF(30, 8), zorv.MVolume->mapToGlobal(QPointF(30, 8)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(zorv.MVolume, &wheel);
    QTest::mouseClick(zorv.MVolume, Qt::LeftButton, {}, QPoint(2, 8));
    ASSERT_TRUE(WaitFor([&] { return graphs.log.size() >= 4; })) << graphs.Joined();
    EXPECT_EQ(graphs.log.front(), "put_Volume#1(0)");
    EXPECT_EQ(graphs.log.back(), "put_Volume#1(" + std::to_string(zorv.MVolume->value() * 40) + ")");
}

// An engine whose song is wherever the test puts it, for the loop keys.
class StillEngine final : public platform::MusicEngine {
  public:
    explicit StillEngine(double& at) : at_(at) {}
    platform::Status Load(const std::string&) override {
        loop_.reset();
        return {};
    }
    platform::Status Play() override { return {}; }
    platform::Status Pause() override { return {}; }
    platform::Status Stop() override { return {}; }
    platform::Status Seek(double) override { return {}; }
    platform::Status SetSpeed(double) override { return {}; }
    platform::Status SetGain(double) override { return {}; }
    platform::Status SetBalance(double) override { return {}; }
    std::optional<double> Position() const override { return at_; }
    std::optional<double> Duration() const override { return 300.0; }
    platform::Status SetLoop(double from, double to) override {
        if (to < from) {
            std::swap(from, to);
        }
        if (to - from < kShortestLoop) {
            return platform::Status::BadArgument("too short");
        }
        loop_ = platform::Loop{from, to};
        return {};
    }
    void ClearLoop() override { loop_.reset(); }
    std::optional<platform::Loop> CurrentLoop() const override { return loop_; }

  private:
    double& at_;
    std::optional<platform::Loop> loop_;
};

class LoopKeysTest : public TransportTest {
  protected:
    double at = 0.0;
    MusicControl loopMusic{GraphsOver([this] { return std::make_unique<StillEngine>(at); })};
    void SetUp() override {
        TransportTest::SetUp();
        program = std::make_unique<Program>(loopMusic, sound);
    }
};

// The keys mark a loop where the song is, and MusicName shows it after the title; none of them types
// into it or plays a drum (the drum key rows).
TEST_F(LoopKeysTest, TheKeysMarkTheLoopAndTheTitleShowsIt) {
    struct Step {
        double at;
        char key;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        const char* shown;  // after " song.mp3"
    };
    const Row rows[] = {
        {"a start", {{62.4, '7'}}, "  \u27F2 1:02.4-"},
        {"a start and an end", {{62.4, '7'}, {70.0, '8'}}, "  \u27F2 1:02.4-1:10.0"},
        {"an end with no start: from the song's", {{3.0, '8'}}, "  \u27F2 0:00.0-0:03.0"},
        {"an end before the start", {{70.0, '7'}, {62.4, '8'}}, "  \u27F2 1:02.4-1:10.0"},
        {"a new start while looping", {{62.4, '7'}, {70.0, '8'}, {64.0, '7'}}, "  \u27F2 1:04.0-1:10.0"},
        {"too short: the start stays marked", {{62.4, '7'}, {62.6, '8'}}, "  \u27F2 1:02.4-"},
        {"cleared", {{62.4, '7'}, {70.0, '8'}, {71.0, '9'}}, ""},
        {"a start cleared", {{62.4, '7'}, {71.0, '9'}}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Zorv& zorv = Open();
        Choose(zorv, Song(QStringLiteral("song.mp3")));
        for (const Step& step : row.steps) {
            at = step.at;
            QTest::keyClick(zorv.Window(), step.key);
        }
        EXPECT_EQ(zorv.MusicName->text(), QStringLiteral(" song.mp3") + QString::fromUtf8(row.shown));
        Choose(zorv, Song(QStringLiteral("song.mp3")));
        EXPECT_EQ(zorv.MusicName->text(), QStringLiteral(" song.mp3")) << "a new song has no loop";
    }
}

}  // namespace
}  // namespace zorvik::forms

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvik::runtime::InitRuntime();
    zorvik::skin::InitResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
