#include "Zorv.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFont>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Colour.h"
#include "KitFiles.h"
#include "Mpris.h"
#include "MusicControl.h"
#include "Program.h"
#include "Runtime.h"
#include "Skin.h"
#include "SoundControl.h"
#include "ZorvSplash.h"

namespace zorvik::forms {

using runtime::ColourFromBgr;

namespace {

// Window style bits added at load: the frameless window keeps its window menu and can be minimised.
constexpr Qt::WindowFlags kAddedStyle = Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint;
// How often the window looks for a lost drum output to bring back, with its MIDI input: a drummer on
// an e-drum kit may strike no key for the whole session.
constexpr std::chrono::milliseconds kKeepOpenInterval{1000};

// The kit a drop carries: the first local file or folder that is a Hydrogen kit; empty for none.
QString DroppedKit(const QMimeData* data) {
    if (data == nullptr) {
        return {};
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && kit::LooksLikeHydrogenKit(url.toLocalFile().toStdString())) {
            return url.toLocalFile();
        }
    }
    return {};
}

// A song a drop carries, when it carries no kit: the first local file. Any file the Music Loader would
// take is taken; one that is no music says so as a chosen one does.
QString DroppedSong(const QMimeData* data) {
    if (data == nullptr) {
        return {};
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) {
            return url.toLocalFile();
        }
    }
    return {};
}

QFont ControlFont(const char* face) {
    QFont font{QString::fromLatin1(face)};
    font.setPointSizeF(kFontPoints);
    font.setBold(true);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QWidget* MakeControl(QWidget& window, const ControlSpec& spec) {
    switch (spec.kind) {
        case ControlKind::Slider:
            return new runtime::Slider(&window, spec.slider);
        case ControlKind::TextBox:
            return new runtime::TextBox(&window, ColourFromBgr(spec.fill.value_or(0)), false);
        case ControlKind::Label:
            return new runtime::Label(&window, QString::fromUtf8(spec.caption),
                                      spec.align == Align::Centre ? Qt::AlignHCenter : Qt::AlignLeft, true);
        case ControlKind::Image:
            return new runtime::Image(&window, skin::Picture(spec.picture), spec.stretch);
        case ControlKind::Shape:
            return new runtime::Shape(&window, ColourFromBgr(spec.fill.value_or(0)),
                                      ColourFromBgr(spec.border.value_or(0)));
        case ControlKind::FileDialog:
            return nullptr;
    }
    return nullptr;
}

}  // namespace

Zorv::Zorv(Program& program, MusicControl& music, SoundControl& sound)
    : Form({.caption = QString::fromUtf8(kZorvCaption),
            .clientSize = kZorvClient,
            .picture = {},
            .icon = skin::Picture("AppIcon")}),
      program_(program),
      music_(music),
      sound_(sound) {}

Zorv::~Zorv() {
    StopKitLoading();
}

QWidget* Zorv::Control(const QString& name) const {
    QWidget* w = Window();
    return w != nullptr ? w->findChild<QWidget*>(name) : nullptr;
}

QString Zorv::SoundsFolder() {
    return runtime::ApplicationFolder() + QStringLiteral("/Sounds");
}

QString Zorv::RecorderPath() {
    return runtime::ApplicationFolder() + QStringLiteral("/") + QString::fromLatin1(kRecorderFile);
}

float Zorv::SpeedRate(int sliderValue) {
    return static_cast<float>(static_cast<double>(sliderValue) / 100.0);
}

void Zorv::CreateControls(QWidget& window) {
    for (const ControlSpec& spec : ZorvControls()) {
        if (spec.kind == ControlKind::FileDialog) {
            MusicLoader = new runtime::FileDialog(&window);
            MusicLoader->setObjectName(QString::fromLatin1(spec.name));
            MusicLoader->DialogTitle = QString::fromLatin1(kMusicLoaderTitle);
            MusicLoader->FileName = QString::fromLatin1(kMusicLoaderFileName);
            continue;
        }
        QWidget* control = MakeControl(window, spec);
        control->setObjectName(QString::fromLatin1(spec.name));
        runtime::PlaceInTwips(*control, spec.rect);
        if (spec.font != nullptr) {
            control->setFont(ControlFont(spec.font));
        }
        if (auto* label = qobject_cast<runtime::Label*>(control)) {
            label->FitCaption();
        }
        if (spec.textColour) {
            QPalette pal = control->palette();
            pal.setColor(QPalette::WindowText, ColourFromBgr(*spec.textColour));
            control->setPalette(pal);
        }
        control->setProperty("TabIndex", spec.tabIndex);
        const bool focusable = spec.kind == ControlKind::Slider || spec.kind == ControlKind::TextBox;
        control->setFocusPolicy(focusable ? Qt::StrongFocus : Qt::NoFocus);
        // Created topmost first: each new control goes beneath the ones before it.
        control->lower();
        control->show();
    }
    auto find = [&window](auto& pointer, const char* name) {
        pointer =
            window.findChild<std::remove_pointer_t<decltype(pointer.data())>*>(QString::fromLatin1(name));
    };
    find(MVolume, "MVolume");
    find(MusicName, "MusicName");
    find(MSpeed, "MSpeed");
    find(OpenRecorder, "OpenRecorder");
    find(MPlay, "MPlay");
    find(MStop, "MStop");
    find(MLoad, "MLoad");
    find(DrumPressed, "DrumPressed");
    find(CloseControl, "CloseControl");
    find(MoveControl, "MoveControl");
    find(CloseControlOver, "CloseControlOver");
    find(BackGround, "BackGround");
    for (int i = 0; i < kDrumCount; ++i) {
        DrumsName[i] = window.findChild<runtime::Label*>(QStringLiteral("DrumsName(%1)").arg(i));
    }
    // The program writes the music's title; typing (drumming) into it would only garble it.
    MusicName->setReadOnly(true);
    QWidget::setTabOrder(MusicName, MVolume);
    QWidget::setTabOrder(MVolume, MSpeed);
    ConnectHandlers();
}

void Zorv::ConnectHandlers() {
    MoveControl->MouseDown = [this](std::int16_t b, std::int16_t s, float x, float y) {
        MoveControl_MouseDown(b, s, x, y);
    };
    BackGround->MouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) {
        BackGround_MouseMove(b, s, x, y);
    };
    CloseControl->MouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) {
        CloseControl_MouseMove(b, s, x, y);
    };
    CloseControlOver->Click = [this] { CloseControlOver_Click(); };
    OpenRecorder->Click = [this] { OpenRecorder_Click(); };
    MLoad->Click = [this] { MLoad_Click(); };
    MPlay->Click = [this] { MPlay_Click(); };
    MStop->Click = [this] { MStop_Click(); };
    MSpeed->Click = [this] { MSpeed_Click(); };
    MSpeed->Scroll = [this] { MSpeed_Scroll(); };
    MVolume->Click = [this] { MVolume_Click(); };
    MVolume->Scroll = [this] { MVolume_Scroll(); };
}

void Zorv::Form_Load() {
    SetBackColor(skin::kKeyColour);
    SetColourKey(skin::kKeyColour);
    if (QWidget* w = Window()) {
        w->setWindowFlags(w->windowFlags() | kAddedStyle);
    }
    SetKeyPreview(true);
    // The drums' output opens while the window comes up, so the first hit finds it ready, and with it
    // the MIDI input, so a kit can be linked before its first note.
    sound_.Prepare();
    std::vector<std::string> samples;
    for (std::size_t row = 0; row < kit::kRows; ++row) {
        samples.push_back(SamplePath(row));
    }
    sound_.Preload(std::move(samples));
    auto* keepOpen = new QTimer(this);
    QObject::connect(keepOpen, &QTimer::timeout, this, [this] { sound_.Prepare(); });
    keepOpen->start(kKeepOpenInterval);
    if (const int fd = sound_.MidiEventsFd(); fd >= 0) {
        auto* events = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        QObject::connect(events, &QSocketNotifier::activated, this, [this] { TakeMidiEvents(); });
    }
    if (QWidget* w = Window()) {
        w->setAcceptDrops(true);
        w->installEventFilter(this);
    }
    // The eight WAVs are read at once, so the kit plays from the first note; a Hydrogen kit in Sounds
    // loads in the background.
    kitCancelled_ = false;
    const std::string sounds = SoundsFolder().toStdString();
    if (kit::LooksLikeHydrogenKit(sounds)) {
        LoadKit(SoundsFolder(), false);
    } else {
        KitLoaded(sound_.LoadKit(sounds, kitCancelled_), SoundsFolder(), false);
    }
    Mpris::Offer(*this, music_);
    // A song the program was started with (a file manager's "Open with") loads once the window is up.
    if (const QString song = program_.TakeSongToOpen(); !song.isEmpty()) {
        QTimer::singleShot(0, this, [this, song] { OpenSong(song); });
    }
}

void Zorv::Form_Unload(std::int16_t& Cancel) {
    if (music_.Loading()) {  // a load is bounded; the window closes as soon as it is done
        closeAfterLoad_ = true;
        Cancel = 1;
        return;
    }
    StopKitLoading();
    (void)music_.CloseMusic();
}

void Zorv::TakeMidiEvents() {
    platform::MidiEvent event;
    while (sound_.TakeMidiEvent(event)) {
        if (event.kind == platform::MidiEvent::Kind::kRowHit) {
            runtime::SetTopInTwips(*DrumPressed,
                                   runtime::TopInTwips(*DrumsName[static_cast<std::size_t>(event.value)]));
            continue;
        }
        const std::vector<std::string> kits = kit::FindKits(SoundsFolder().toStdString());
        if (static_cast<std::size_t>(event.value) < kits.size()) {
            LoadKit(QString::fromStdString(kits[static_cast<std::size_t>(event.value)]), true);
        } else {
            std::fprintf(stderr, "zorvik: program %d chooses no kit: %zu kits are found\n", event.value + 1,
                         kits.size());
        }
    }
}

bool Zorv::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Window() && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString kitPath = DroppedKit(drop->mimeData());
        const QString songPath = kitPath.isEmpty() ? DroppedSong(drop->mimeData()) : QString();
        if (kitPath.isEmpty() && songPath.isEmpty()) {
            return false;
        }
        drop->acceptProposedAction();
        if (event->type() != QEvent::Drop) {
            return true;
        }
        if (!kitPath.isEmpty()) {
            LoadKit(kitPath, true);
        } else {
            OpenSong(songPath);
        }
        return true;
    }
    return Form::eventFilter(watched, event);
}

void Zorv::LoadKit(const QString& path, bool askedByUser) {
    if (kitBusy_) {
        nextKit_ = path;
        nextKitAsked_ = askedByUser;
        return;
    }
    if (kitLoading_.joinable()) {
        kitLoading_.join();  // done: it handed its kit over before we got here
    }
    kitBusy_ = true;
    kitLoading_ = std::thread([this, path, askedByUser] {
        const platform::KitLoad load = sound_.LoadKit(path.toStdString(), kitCancelled_);
        QMetaObject::invokeMethod(
            this, [this, load, path, askedByUser] { KitLoaded(load, path, askedByUser); },
            Qt::QueuedConnection);
    });
}

void Zorv::KitLoaded(const platform::KitLoad& load, const QString& path, bool askedByUser) {
    kitBusy_ = false;
    if (kitCancelled_) {
        return;
    }
    if (load.kit) {
        sound_.UseKit(load.kit);
        kitName_ = QString::fromStdString(load.name);
        if (QWidget* w = Window()) {
            const QString caption = QString::fromUtf8(kZorvCaption);
            w->setWindowTitle(kitName_.isEmpty() ? caption : caption + QStringLiteral(" \u2013 ") + kitName_);
        }
        std::fprintf(stderr, "zorvik: kit \"%s\" from %s%s\n",
                     load.name.empty() ? "Sounds" : load.name.c_str(), path.toLocal8Bit().constData(),
                     load.warnings.empty() ? "" : ", with parts left out:");
        for (const std::string& warning : load.warnings) {
            std::fprintf(stderr, "zorvik:   %s\n", warning.c_str());
        }
    } else {
        std::fprintf(stderr, "zorvik: the kit %s cannot be played: %s\n", path.toLocal8Bit().constData(),
                     load.error.c_str());
        if (askedByUser) {
            runtime::ShowMessage(
                Window(), QStringLiteral("Drum Kit"),
                QStringLiteral("The kit \u201C%1\u201D cannot be played; the kit in use plays on.\n\n%2")
                    .arg(path, QString::fromStdString(load.error)));
        }
    }
    if (!nextKit_.isEmpty()) {
        const QString next = std::exchange(nextKit_, QString());
        LoadKit(next, nextKitAsked_);
    }
}

void Zorv::StopKitLoading() {
    kitCancelled_ = true;
    nextKit_.clear();
    if (kitLoading_.joinable()) {
        kitLoading_.join();
    }
}

void Zorv::Form_KeyPress(std::int16_t& KeyAscii) {
    switch (KeyAscii) {
        case kLoopStartKey:
            (void)music_.MarkLoopStart();
            ShowMusicName();
            return;
        case kLoopEndKey:
            (void)music_.MarkLoopEnd();
            ShowMusicName();
            return;
        case kLoopClearKey:
            ClearLoopKey();
            return;
        default:
            break;
    }
    for (const DrumKey& key : kDrumKeys) {
        if (KeyAscii != key.code) {
            continue;
        }
        // A kit with an instrument for the row plays it; otherwise the row's Sounds file plays.
        if (!sound_.PlayRow(static_cast<std::size_t>(key.index))) {
            (void)sound_.sndPlaySound(SamplePath(key.index), SoundControl::SND_ASYNC);
        }
        runtime::SetTopInTwips(*DrumPressed, runtime::TopInTwips(*DrumsName[key.index]));
    }
}

std::string Zorv::SamplePath(std::size_t row) {
    return (runtime::ApplicationFolder() + QStringLiteral("/Sounds/") +
            QString::fromUtf8(kit::kDrumNames[row]) + QStringLiteral(".wav"))
        .toStdString();
}

void Zorv::WindowCloseRequested() {
    CloseControlOver_Click();
}

void Zorv::MoveControl_MouseDown(std::int16_t Button, std::int16_t, float, float) {
    if (Button != 1) {
        return;
    }
    BeginWindowMove();
}

void Zorv::BackGround_MouseMove(std::int16_t, std::int16_t, float, float) {
    CloseControl->setVisible(true);
}

void Zorv::CloseControl_MouseMove(std::int16_t, std::int16_t, float, float) {
    CloseControl->setVisible(false);
}

void Zorv::CloseControlOver_Click() {
    Unload();
    program_.SplashForm().Unload();
}

void Zorv::OpenRecorder_Click() {
    const runtime::LaunchResult result =
        runtime::StartProgram(RecorderPath(), {QStringLiteral("--minimized")});
    if (!result.started) {
        runtime::ShowMessage(
            Window(), QStringLiteral("Open Recorder"),
            QStringLiteral("The sound recorder could not be started.\n\n%1").arg(result.error));
    }
}

namespace {

// A point in the song as a drummer counts it: 1:02.4.
QString SongTime(double seconds) {
    const auto tenths = static_cast<long long>(std::llround(seconds * 10.0));
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600)
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

}  // namespace

void Zorv::ClearLoopKey() {
    music_.ClearLoop();
    ShowMusicName();
}

void Zorv::ShowMusicName() {
    QString text = QStringLiteral(" ") + musicTitle_;
    if (const auto loop = music_.MusicLoop()) {
        text += QStringLiteral("  \u27F2 %1-%2").arg(SongTime(loop->start), SongTime(loop->end));
    } else if (const auto start = music_.LoopStartMark()) {
        text += QStringLiteral("  \u27F2 %1-").arg(SongTime(*start));
    }
    MusicName->setText(text);
}

void Zorv::MLoad_Click() {
    if (!MusicLoader->ShowOpen()) {
        return;  // a cancelled choice changes nothing
    }
    LoadChosenSong();
}

void Zorv::OpenSong(const QString& path) {
    MusicLoader->FileName = QFileInfo(path).absoluteFilePath();
    MusicLoader->FileTitle = QFileInfo(path).fileName();
    LoadChosenSong();
}

// The window keeps answering while a song loads (music_ loads it on a thread of its own): the drums play,
// and what is asked of the transport meanwhile is done once the song is ready.
void Zorv::LoadChosenSong() {
    const QString fileName = MusicLoader->FileName;
    const QString title = MusicLoader->FileTitle;
    if (music_.Loading()) {
        nextSongPath_ = fileName;
        nextSongTitle_ = title;
        return;
    }
    MusicName->setText(QStringLiteral(" ") + title);
    musicTitle_ = title;
    if (music_.LoadMusic(fileName.toStdString()) == kTrue) {
        ApplySliders();
        if (std::exchange(playAfterLoad_, false)) {
            (void)music_.PlayMusic();
        }
    } else {
        playAfterLoad_ = false;
        runtime::ShowMessage(Window(), QString::fromLatin1(kMusicLoaderTitle),
                             QStringLiteral("\u201C%1\u201D cannot be played.\n\n%2\n\n%3")
                                 .arg(title, QString::fromStdString(music_.LoadErrorText()), fileName));
    }
    if (std::exchange(closeAfterLoad_, false)) {
        nextSongPath_.clear();
        CloseControlOver_Click();
        return;
    }
    if (!nextSongPath_.isEmpty()) {
        MusicLoader->FileName = std::exchange(nextSongPath_, QString());
        MusicLoader->FileTitle = std::exchange(nextSongTitle_, QString());
        LoadChosenSong();
    }
}

// A new graph starts at normal speed and full volume; make it play as the sliders show.
void Zorv::ApplySliders() {
    (void)music_.SetMusicSpeed(SpeedRate(MSpeed->value()));
    (void)music_.SetMusicVolume(MVolume->value());
}

void Zorv::MPlay_Click() {
    if (music_.Loading()) {
        playAfterLoad_ = true;
        return;
    }
    (void)music_.PlayMusic();
}
void Zorv::MStop_Click() {
    playAfterLoad_ = false;
    (void)music_.StopMusic();
}
void Zorv::MSpeed_Click() {
    (void)music_.SetMusicSpeed(SpeedRate(MSpeed->value()));
}
void Zorv::MSpeed_Scroll() {
    (void)music_.SetMusicSpeed(SpeedRate(MSpeed->value()));
}
void Zorv::MVolume_Click() {
    (void)music_.SetMusicVolume(MVolume->value());
}
void Zorv::MVolume_Scroll() {
    (void)music_.SetMusicVolume(MVolume->value());
}

}  // namespace zorvik::forms
