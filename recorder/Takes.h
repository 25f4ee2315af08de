#pragma once

#include <QDateTime>
#include <QString>

// Where recordings go and what they are called. A recording is written to a "part" file beside its
// final place and only renamed when it ends, so a half-written file never carries a finished name.
namespace zorvik::recorder {

// The user's Music folder, created if need be; the home folder if there is none to be had.
QString DefaultFolder();

// "Zorvik 2026-12-08 16-30-05.wav": sorts by time, and has no characters any file system refuses.
QString DatedName(const QDateTime& when);

// A part file just created, and open for writing. The recording goes through this descriptor and the
// file is never opened again by its name: whatever is put under that name in between (a link to another
// file, a FIFO) is not written to.
struct PartFile {
    QString path;
    int fd = -1;
};

// Creates a new, empty file in the folder of `finalPath` whose name shows what it will become. Several
// recorders may start in the same second, so each gets a file of its own. An empty path and no
// descriptor, with the reason in `error`, if the folder cannot be written.
PartFile CreatePartFile(const QString& finalPath, QString& error);

// Gives a finished part file `wantedPath`, or "Name (2).wav", "Name (3).wav"... if that is taken:
// a recording never replaces another one on its own. Returns the name it got; empty, with the reason
// in `error`, if the rename failed (the part file is then left as it is).
QString KeepUnderFreeName(const QString& partPath, const QString& wantedPath, QString& error);

// Moves a recording to `target`, replacing what is there (the user has been asked by then). Works
// across file systems. False, with the reason in `error`, if the recording is still where it was.
bool MoveReplacing(const QString& from, const QString& target, QString& error);

}  // namespace zorvik::recorder
