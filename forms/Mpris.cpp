#include "Mpris.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "Identity.h"
#include "MusicControl.h"
#include "Zorv.h"

namespace zorvik::forms {

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
// The speed slider's range, as rates.
constexpr double kMinimumRate = 0.5;
constexpr double kMaximumRate = 1.5;
// How often the desktop is told what changed: a slider moved, the song loaded or ended, a loop set.
constexpr std::chrono::milliseconds kLookInterval{250};

// org.mpris.MediaPlayer2: who the player is.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ UriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ MimeTypes)
  public:
    explicit RootAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    bool CanQuit() const { return true; }
    bool CanRaise() const { return false; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QString::fromLatin1(platform::kAppName); }
    QString DesktopEntry() const { return QString::fromLatin1(platform::kAppId); }
    QStringList UriSchemes() const { return {QStringLiteral("file")}; }
    QStringList MimeTypes() const { return {}; }

  public Q_SLOTS:
    void Raise() {}
    void Quit() { mpris_->MainForm().CloseControlOver_Click(); }

  private:
    Mpris* mpris_;
};

// org.mpris.MediaPlayer2.Player: the transport.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ MinimumRate)
    Q_PROPERTY(double MaximumRate READ MaximumRate)
    Q_PROPERTY(bool CanGoNext READ No)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPlay READ Yes)
    Q_PROPERTY(bool CanPause READ Yes)
    Q_PROPERTY(bool CanSeek READ Yes)
    Q_PROPERTY(bool CanControl READ Yes)
  public:
    explicit PlayerAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    QString PlaybackStatus() const { return mpris_->PlaybackStatus(); }
    QString LoopStatus() const { return mpris_->LoopStatus(); }
    void SetLoopStatus(const QString& status) { mpris_->SetLoopStatus(status); }
    double Rate() const { return mpris_->Rate(); }
    void SetRate(double rate) { mpris_->SetRate(rate); }
    bool Shuffle() const { return false; }
    void SetShuffle(bool) {}
    QVariantMap Metadata() const { return mpris_->Metadata(); }
    double Volume() const { return mpris_->Volume(); }
    void SetVolume(double volume) { mpris_->SetVolume(volume); }
    qlonglong Position() const { return mpris_->Position(); }
    double MinimumRate() const { return kMinimumRate; }
    double MaximumRate() const { return kMaximumRate; }
    bool No() const { return false; }
    bool Yes() const { return true; }

  Q_SIGNALS:
    void Seeked(qlonglong position);

  public Q_SLOTS:
    void Next() {}
    void Previous() {}
    void Play() {
        if (mpris_->Music().State() != MusicControl::Playback::kPlaying) {
            mpris_->MainForm().MPlay_Click();
        }
    }
    void Pause() { (void)mpris_->Music().PauseMusic(); }
    void PlayPause() {
        if (mpris_->Music().State() == MusicControl::Playback::kPlaying) {
            Pause();
        } else {
            Play();
        }
    }
    void Stop() { mpris_->MainForm().MStop_Click(); }
    void Seek(qlonglong offset) {
        mpris_->SeekBy(offset);
        Q_EMIT Seeked(mpris_->Position());
    }
    void SetPosition(const QDBusObjectPath&, qlonglong position) {
        mpris_->SeekTo(position);
        Q_EMIT Seeked(mpris_->Position());
    }
    void OpenUri(const QString& uri) {
        const QUrl url(uri);
        if (url.isLocalFile()) {
            mpris_->MainForm().OpenSong(url.toLocalFile());
        }
    }

  private:
    Mpris* mpris_;
};

}  // namespace

Mpris* Mpris::Offer(Zorv& zorv, MusicControl& music) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return nullptr;
    }
    auto* mpris = new Mpris(zorv, music);
    new RootAdaptor(mpris);
    new PlayerAdaptor(mpris);
    // A second Zorvik is a second player, under a name of its own.
    const QString name = QStringLiteral("org.mpris.MediaPlayer2.zorvik");
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), mpris) ||
        (!bus.registerService(name) &&
         !bus.registerService(name +
                              QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())))) {
        delete mpris;
        return nullptr;
    }
    return mpris;
}

Mpris::Mpris(Zorv& zorv, MusicControl& music) : QObject(zorv.Window()), zorv_(zorv), music_(music) {
    auto* look = new QTimer(this);
    connect(look, &QTimer::timeout, this, &Mpris::TellChanges);
    look->start(kLookInterval);
}

QString Mpris::PlaybackStatus() const {
    switch (music_.State()) {
        case MusicControl::Playback::kPlaying:
            return QStringLiteral("Playing");
        case MusicControl::Playback::kPaused:
            return QStringLiteral("Paused");
        case MusicControl::Playback::kStopped:
            break;
    }
    return QStringLiteral("Stopped");
}

// "Track" is a loop on the passage the keys marked; asked for with none marked, there is nothing to loop.
QString Mpris::LoopStatus() const {
    return music_.MusicLoop() ? QStringLiteral("Track") : QStringLiteral("None");
}

void Mpris::SetLoopStatus(const QString& status) {
    if (status == QStringLiteral("None")) {
        zorv_.ClearLoopKey();
    }
}

// The speed slider, in hundredths of normal speed.
double Mpris::Rate() const {
    return zorv_.MSpeed ? zorv_.MSpeed->value() / 100.0 : 1.0;
}

void Mpris::SetRate(double rate) {
    if (!zorv_.MSpeed || !std::isfinite(rate)) {
        return;
    }
    zorv_.MSpeed->setValue(
        static_cast<int>(std::lround(std::clamp(rate, kMinimumRate, kMaximumRate) * 100.0)));
    zorv_.MSpeed_Scroll();
}

// The volume slider, -100 (silent) to 0 (full), as 0 to 1.
double Mpris::Volume() const {
    return zorv_.MVolume ? (zorv_.MVolume->value() + 100) / 100.0 : 1.0;
}

void Mpris::SetVolume(double volume) {
    if (!zorv_.MVolume || !std::isfinite(volume)) {
        return;
    }
    zorv_.MVolume->setValue(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100.0)) - 100);
    zorv_.MVolume_Scroll();
}

QVariantMap Mpris::Metadata() const {
    QVariantMap data;
    const QString title = zorv_.MusicTitle();
    if (title.isEmpty()) {
        return data;
    }
    data.insert(QStringLiteral("mpris:trackid"),
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/zorvik/Zorvik/Song"))));
    data.insert(QStringLiteral("xesam:title"), title);
    if (const auto length = music_.MusicLength()) {
        data.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(std::llround(*length * 1e6)));
    }
    return data;
}

qlonglong Mpris::Position() const {
    return static_cast<qlonglong>(std::llround(music_.MusicPosition().value_or(0.0) * 1e6));
}

void Mpris::SeekBy(qlonglong microseconds) {
    SeekTo(Position() + microseconds);
}

void Mpris::SeekTo(qlonglong microseconds) {
    (void)music_.SeekMusic(std::max(0.0, static_cast<double>(microseconds) / 1e6));
}

void Mpris::TellChanges() {
    const QVariantMap now{{QStringLiteral("PlaybackStatus"), PlaybackStatus()},
                          {QStringLiteral("LoopStatus"), LoopStatus()},
                          {QStringLiteral("Rate"), Rate()},
                          {QStringLiteral("Volume"), Volume()},
                          {QStringLiteral("Metadata"), Metadata()}};
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (told_.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
        }
    }
    if (changed.isEmpty()) {
        return;
    }
    told_ = now;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace zorvik::forms

#include "Mpris.moc"
