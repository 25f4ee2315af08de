#pragma once
// The transport on the desktop's media controls: MPRIS (org.mpris.MediaPlayer2 and its Player) on the
// session bus, for GNOME's and Plasma's controls, a keyboard's media keys, playerctl and an e-drum
// player's foot switch mapped to a media key. They press the window's own buttons and move its sliders,
// so what they do is what a click does, and a slider the user moves is seen by them. With no session
// bus nothing is offered and nothing is said.

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace zorvik {
class MusicControl;
}  // namespace zorvik

namespace zorvik::forms {

class Zorv;

class Mpris : public QObject {
    Q_OBJECT
  public:
    // Offers the transport on the session bus; the object lives as long as `zorv`'s window. Null without
    // a bus.
    static Mpris* Offer(Zorv& zorv, MusicControl& music);

    // What the two interfaces read and do; see the .cpp for the mapping onto the window.
    Zorv& MainForm() const { return zorv_; }
    MusicControl& Music() const { return music_; }
    QString PlaybackStatus() const;
    QString LoopStatus() const;
    void SetLoopStatus(const QString& status);
    double Rate() const;
    void SetRate(double rate);
    double Volume() const;
    void SetVolume(double volume);
    QVariantMap Metadata() const;
    qlonglong Position() const;
    void SeekBy(qlonglong microseconds);
    void SeekTo(qlonglong microseconds);

  private:
    Mpris(Zorv& zorv, MusicControl& music);
    // Tells the desktop what changed since it last looked.
    void TellChanges();

    Zorv& zorv_;
    MusicControl& music_;
    QVariantMap told_;  // the Player's properties as last told
};

}  // namespace zorvik::forms
