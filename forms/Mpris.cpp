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
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
  public:
    explicit RootAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    bool canQuit() const { return true; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QString::fromLatin1(platform::kAppName); }
    QString desktopEntry() const { return QString::fromLatin1(platform::kAppId); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const { return {}; }

  public Q_SLOTS:
    void Raise() {}
    void Quit() { mpris_->zorv().CloseControlOver_Click(); }

  private:
    Mpris* mpris_;
};

// org.mpris.MediaPlayer2.Player: the transport.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ yes)
    Q_PROPERTY(bool CanControl READ yes)
  public:
    explicit PlayerAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    QString playbackStatus() const { return mpris_->playbackStatus(); }
    QString loopStatus() const { return mpris_->loopStatus(); }
    void setLoopStatus(const QString& status) { mpris_->setLoopStatus(status); }
    double rate() const { return mpris_->rate(); }
    void setRate(double rate) { mpris_->setRate(rate); }
    bool shuffle() const { return false; }
    void setShuffle(bool) {}
    QVariantMap metadata() const { return mpris_->metadata(); }
    double volume() const { return mpris_->volume(); }
    void setVolume(double volume) { mpris_->setVolume(volume); }
    qlonglong position() const { return mpris_->position(); }
    double minimumRate() const { return kMinimumRate; }
    double maximumRate() const { return kMaximumRate; }
    bool no() const { return false; }
    bool yes() const { return true; }

  Q_SIGNALS:
    void Seeked(qlonglong position);

  public Q_SLOTS:
    void Next() {}
    void Previous() {}
    void Play() {
        if (mpris_->music().State() != MusicControl::Playback::kPlaying) mpris_->zorv().MPlay_Click();
    }
    void Pause() { (void)mpris_->music().PauseMusic(); }
    void PlayPause() {
        if (mpris_->music().State() == MusicControl::Playback::kPlaying) {
            Pause();
        } else {
            Play();
        }
    }
    void Stop() { mpris_->zorv().MStop_Click(); }
    void Seek(qlonglong offset) {
        mpris_->seekBy(offset);
        Q_EMIT Seeked(mpris_->position());
    }
    void SetPosition(const QDBusObjectPath&, qlonglong position) {
        mpris_->seekTo(position);
        Q_EMIT Seeked(mpris_->position());
    }
    void OpenUri(const QString& uri) {
        const QUrl url(uri);
        if (url.isLocalFile()) mpris_->zorv().OpenSong(url.toLocalFile());
    }

  private:
    Mpris* mpris_;
};

}  // namespace

Mpris* Mpris::Offer(Zorv& zorv, MusicControl& music) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return nullptr;
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

Mpris::Mpris(Zorv& zorv, MusicControl& music) : QObject(zorv.window()), zorv_(zorv), music_(music) {
    auto* look = new QTimer(this);
    connect(look, &QTimer::timeout, this, &Mpris::tellChanges);
    look->start(kLookInterval);
}

QString Mpris::playbackStatus() const {
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
QString Mpris::loopStatus() const {
    return music_.MusicLoop() ? QStringLiteral("Track") : QStringLiteral("None");
}

void Mpris::setLoopStatus(const QString& status) {
    if (status == QStringLiteral("None")) zorv_.ClearLoopKey();
}

// The speed slider, in hundredths of normal speed.
double Mpris::rate() const {
    return zorv_.MSpeed ? zorv_.MSpeed->value() / 100.0 : 1.0;
}

void Mpris::setRate(double rate) {
    if (!zorv_.MSpeed || !std::isfinite(rate)) return;
    zorv_.MSpeed->setValue(
        static_cast<int>(std::lround(std::clamp(rate, kMinimumRate, kMaximumRate) * 100.0)));
    zorv_.MSpeed_Scroll();
}

// The volume slider, -100 (silent) to 0 (full), as 0 to 1.
double Mpris::volume() const {
    return zorv_.MVolume ? (zorv_.MVolume->value() + 100) / 100.0 : 1.0;
}

void Mpris::setVolume(double volume) {
    if (!zorv_.MVolume || !std::isfinite(volume)) return;
    zorv_.MVolume->setValue(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100.0)) - 100);
    zorv_.MVolume_Scroll();
}

QVariantMap Mpris::metadata() const {
    QVariantMap data;
    const QString title = zorv_.MusicTitle();
    if (title.isEmpty()) return data;
    data.insert(QStringLiteral("mpris:trackid"),
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/zorvik/Zorvik/Song"))));
    data.insert(QStringLiteral("xesam:title"), title);
    if (const auto length = music_.MusicLength())
        data.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(std::llround(*length * 1e6)));
    return data;
}

qlonglong Mpris::position() const {
    return static_cast<qlonglong>(std::llround(music_.MusicPosition().value_or(0.0) * 1e6));
}

void Mpris::seekBy(qlonglong microseconds) {
    seekTo(position() + microseconds);
}

void Mpris::seekTo(qlonglong microseconds) {
    (void)music_.SeekMusic(std::max(0.0, static_cast<double>(microseconds) / 1e6));
}

void Mpris::tellChanges() {
    const QVariantMap now{{QStringLiteral("PlaybackStatus"), playbackStatus()},
                          {QStringLiteral("LoopStatus"), loopStatus()},
                          {QStringLiteral("Rate"), rate()},
                          {QStringLiteral("Volume"), volume()},
                          {QStringLiteral("Metadata"), metadata()}};
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (told_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    if (changed.isEmpty()) return;
    told_ = now;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace zorvik::forms

#include "Mpris.moc"
