#pragma once
// The program's two forms, each one program-wide instance created on its first reference, and the code
// modules they use.

#include <QString>
#include <memory>
#include <utility>

namespace zorvik {
class MusicControl;
class SoundControl;
}  // namespace zorvik

namespace zorvik::forms {

class Zorv;
class ZorvSplash;

class Program {
  public:
    Program(MusicControl& music, SoundControl& sound);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    ZorvSplash& SplashForm();
    Zorv& MainForm();
    bool ZorvExists() const { return zorv_ != nullptr; }

    // A song to load once the main window opens (the program's command line); taken once.
    void SetSongToOpen(QString path) { songToOpen_ = std::move(path); }
    QString TakeSongToOpen() { return std::exchange(songToOpen_, QString()); }

  private:
    MusicControl& music_;
    SoundControl& sound_;
    std::unique_ptr<ZorvSplash> splash_;
    std::unique_ptr<Zorv> zorv_;
    QString songToOpen_;
};

}  // namespace zorvik::forms
