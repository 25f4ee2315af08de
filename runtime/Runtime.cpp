#include "Runtime.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QProcess>
#include <thread>

namespace zorvik::runtime {

namespace {
std::function<void()>& NoFormHandler() {
    static std::function<void()> handler;
    return handler;
}
}  // namespace

void InitRuntime() {
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Perpetua"), QStringLiteral("EB Garamond"));
    QApplication::setQuitOnLastWindowClosed(false);
}

QString ApplicationFolder() {
    return QCoreApplication::applicationDirPath();
}

void NoFormLoaded() {
    if (NoFormHandler()) {
        NoFormHandler()();
        return;
    }
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void SetNoFormLoadedHandler(std::function<void()> handler) {
    NoFormHandler() = std::move(handler);
}

LaunchResult StartProgram(const QString& path, const QStringList& arguments) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return {false, QStringLiteral("There is no program at\n%1").arg(path)};
    }
    if (!info.isFile() || !info.isExecutable()) {
        return {false, QStringLiteral("The file at\n%1\nis not a program that can be started.").arg(path)};
    }
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        return {
            false,
            QStringLiteral("The program at\n%1\ncould not be started: %2").arg(path, process.errorString())};
    }
    return {true, {}};
}

void KeepAnsweringWhile(const std::function<void()>& work) {
    QEventLoop answering;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&answering, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Also ended early when the application exits; the work is then waited for here.
    answering.exec();
    worker.join();
}

}  // namespace zorvik::runtime

namespace zorvik::runtime {

namespace {
std::function<void(const QString&, const QString&)>& MessageHandler() {
    static std::function<void(const QString&, const QString&)> handler;
    return handler;
}
}  // namespace

void ShowMessage(QWidget* owner, const QString& title, const QString& text) {
    if (MessageHandler()) {
        MessageHandler()(title, text);
        return;
    }
    QMessageBox::warning(owner, title, text);
}

void SetMessageHandler(std::function<void(const QString& title, const QString& text)> handler) {
    MessageHandler() = std::move(handler);
}

}  // namespace zorvik::runtime
