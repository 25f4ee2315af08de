#pragma once
// The main window: the drum pads, the transport panel and the window's own shell (colour key, drag strip,
// close button, recorder launch).

#include <QPointer>
#include <QString>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "Controls.h"
#include "Form.h"
#include "Layout.h"
#include "SamplePlayer.h"

namespace zorvik {
class MusicControl;
class SoundControl;
}  // namespace zorvik

namespace zorvik::forms {

class Program;

// The drum keys in the order they are tested: character code, and the row of the drum (its label, and
// the kit's name for its sample).
struct DrumKey {
    std::int16_t code;
    int index;
};
inline constexpr std::array<DrumKey, kDrumCount> kDrumKeys{{
    {49, 0},
    {50, 1},
    {51, 2},
    {46, 3},
    {52, 4},
    {53, 5},
    {54, 6},
    {43, 7},
}};

// The practice loop's keys, beside the drums on the keypad (and the same characters anywhere): the start
// of the passage, its end (the loop is on from then), and no loop.
inline constexpr std::int16_t kLoopStartKey = '7';
inline constexpr std::int16_t kLoopEndKey = '8';
inline constexpr std::int16_t kLoopClearKey = '9';

// The recorder program that "Open Recorder" starts, in the application folder.
inline constexpr const char* kRecorderFile = "zorvik-recorder";

class Zorv : public runtime::Form {
    Q_OBJECT
  public:
    Zorv(Program& program, MusicControl& music, SoundControl& sound);
    ~Zorv() override;

    // The controls, while the form is loaded.
    QPointer<runtime::Slider> MVolume;
    QPointer<runtime::TextBox> MusicName;
    QPointer<runtime::FileDialog> MusicLoader;
    QPointer<runtime::Slider> MSpeed;
    QPointer<runtime::Label> OpenRecorder;
    QPointer<runtime::Label> MPlay;
    QPointer<runtime::Label> MStop;
    QPointer<runtime::Label> MLoad;
    std::array<QPointer<runtime::Label>, kDrumCount> DrumsName;
    QPointer<runtime::Image> DrumPressed;
    QPointer<runtime::Image> CloseControl;
    QPointer<runtime::Image> MoveControl;
    QPointer<runtime::Image> CloseControlOver;
    QPointer<runtime::Image> BackGround;

    // Any control by its layout name, while the form is loaded.
    QWidget* Control(const QString& name) const;

    // Window shell.
    void MoveControl_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void BackGround_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void CloseControl_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void CloseControlOver_Click();
    void OpenRecorder_Click();
    // Transport panel.
    void MLoad_Click();
    void MPlay_Click();
    void MStop_Click();
    void MSpeed_Click();
    void MSpeed_Scroll();
    void MVolume_Click();
    void MVolume_Scroll();

    // Where the recorder is started from.
    static QString RecorderPath();
    // The kits folder beside the program: its WAVs, or the drumkit.xml in it, are the kit at start.
    static QString SoundsFolder();

    // The kit: the one at `path` is read in the background while the kit in use plays on, then takes
    // over; one that cannot be played leaves the kit in use and, asked for by the user, says why.
    // A request while one loads waits for it, and only the newest request waits.
    void LoadKit(const QString& path, bool askedByUser);
    // Loads a song as "Load" loads the one chosen in the Music Loader (which then opens on it): a song
    // dropped on the window, or given on the command line.
    void OpenSong(const QString& path);
    // The loop goes, as the key that clears it does.
    void ClearLoopKey();
    // The title of the song loaded last, as MusicName shows it (without the leading space).
    QString MusicTitle() const { return musicTitle_; }
    // The rate a speed slider value stands for: value / 100 in double, rounded to single precision.
    static float SpeedRate(int sliderValue);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void CreateControls(QWidget& window) override;
    void Form_Load() override;
    void Form_Unload(std::int16_t& Cancel) override;
    void Form_KeyPress(std::int16_t& KeyAscii) override;
    void WindowCloseRequested() override;

  private:
    void ConnectHandlers();
    void ApplySliders();
    void LoadChosenSong();
    void TakeMidiEvents();
    void KitLoaded(const platform::KitLoad& load, const QString& path, bool askedByUser);
    void StopKitLoading();
    // The sample file of the kit's row, in the application folder's Sounds.
    static std::string SamplePath(std::size_t row);
    // The music's title in MusicName, with the loop (or a start marked for one) after it.
    void ShowMusicName();

    Program& program_;
    MusicControl& music_;
    SoundControl& sound_;
    std::thread kitLoading_;
    std::atomic<bool> kitCancelled_{false};
    bool kitBusy_ = false;
    QString nextKit_;  // waiting for the load under way
    bool nextKitAsked_ = false;
    QString kitName_;     // of the kit in use, shown in the window's title
    QString musicTitle_;  // of the music loaded
    // Asked for while a song loads, done once it has: the newest song chosen, playing it, closing.
    QString nextSongPath_, nextSongTitle_;
    bool playAfterLoad_ = false;
    bool closeAfterLoad_ = false;
};

}  // namespace zorvik::forms
