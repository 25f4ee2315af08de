#include "Takes.h"

#include <fcntl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

namespace zorvik::recorder {

QString DefaultFolder() {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QDir().mkpath(music)) {
        return music;
    }
    return QDir::homePath();
}

QString DatedName(const QDateTime& when) {
    return QStringLiteral("Zorvik %1.wav").arg(when.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")));
}

PartFile CreatePartFile(const QString& finalPath, QString& error) {
    const QFileInfo info(finalPath);
    // Not QTemporaryFile: its files are private to the user, and the recording keeps the permissions of
    // the file it was written to. A plain new file gets the ones the user's umask asks for.
    QString reason;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString tag = QString::number(QRandomGenerator::global()->bounded(0x1000000), 36);
        const QString path =
            info.dir().filePath(QStringLiteral("%1 (recording %2).wav").arg(info.completeBaseName(), tag));
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return {path, fd};
        }
        const int cause = errno;
        reason = QString::fromLocal8Bit(std::strerror(cause));
        if (cause != EEXIST) {
            break;  // not a clash with another recorder: the folder itself is the trouble
        }
    }
    error = QStringLiteral("The recording cannot be written in %1 (%2).")
                .arg(QDir::toNativeSeparators(info.absolutePath()), reason);
    return {};
}

QString KeepUnderFreeName(const QString& partPath, const QString& wantedPath, QString& error) {
    const QFileInfo wanted(wantedPath);
    QString candidate = wantedPath;
    for (int n = 2;; ++n) {
        // rename() refuses to replace an existing file, which is what makes the search safe against
        // another recorder finishing at the same moment.
        QFile part(partPath);
        if (part.rename(candidate)) {
            return candidate;
        }
        if (!QFileInfo::exists(candidate)) {
            error = QStringLiteral("The recording could not be named %1 (%2); it is still at %3.")
                        .arg(QDir::toNativeSeparators(candidate), part.errorString(),
                             QDir::toNativeSeparators(partPath));
            return {};
        }
        candidate = wanted.dir().filePath(
            QStringLiteral("%1 (%2).%3").arg(wanted.completeBaseName()).arg(n).arg(wanted.suffix()));
    }
}

bool MoveReplacing(const QString& from, const QString& target, QString& error) {
    if (QFileInfo(from).absoluteFilePath() == QFileInfo(target).absoluteFilePath()) {
        return true;
    }
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        error = QStringLiteral("%1 cannot be replaced.").arg(QDir::toNativeSeparators(target));
        return false;
    }
    QFile file(from);
    if (!file.rename(target)) {
        error = QStringLiteral("The recording could not be saved as %1 (%2).")
                    .arg(QDir::toNativeSeparators(target), file.errorString());
        return false;
    }
    return true;
}

}  // namespace zorvik::recorder
