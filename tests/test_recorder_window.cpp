// The recorder's window with a sound source the test controls: what the buttons do to the files in
// the recordings folder, what closing asks, and what the user is told when there is nothing to record.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "LevelMeter.h"
#include "RecorderFeed.h"
#include "RecorderWindow.h"

namespace zorvik::recorder {
namespace {

using testing::Constant;
using testing::Feed;

constexpr int kWaitMs = 5000;

sf_count_t FramesIn(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (file == nullptr) {
        return -1;
    }
    sf_close(file);
    return info.frames;
}

class RecorderWindowTest : public ::testing::Test {
  protected:
    RecorderWindow& Open(const QString& folder) {
        window_ = std::make_unique<RecorderWindow>(feed_.Factory(), folder);
        window_->show();
        return *window_;
    }
    RecorderWindow& Open() { return Open(folder_.path()); }

    QPushButton* Button(const QString& text) const {
        for (QPushButton* button : window_->findChildren<QPushButton*>()) {
            if (button->text().remove(QLatin1Char('&')) == text) {
                return button;
            }
        }
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    void Click(const QString& text) const { Button(text)->click(); }
    QString Elapsed() const { return window_->findChild<QLabel*>(QStringLiteral("elapsed"))->text(); }

    // The message the window shows, once it shows one.
    QMessageBox* Message() const {
        QMessageBox* box = nullptr;
        if (!QTest::qWaitFor([&] { return (box = window_->findChild<QMessageBox*>()) != nullptr; },
                             kWaitMs)) {
            return nullptr;
        }
        return box;
    }

    QStringList Recordings() const { return QDir(folder_.path()).entryList(QDir::Files, QDir::Name); }

    // Records `frames` frames of a steady level and waits until the window shows all of them.
    void RecordSound(int frames, float level = 0.25f) {
        Click(QStringLiteral("Record"));
        feed_.Push(Constant(frames, level));
        const QString shown = QStringLiteral("00:%1.%2")
                                  .arg(frames / kRate, 2, 10, QLatin1Char('0'))
                                  .arg(frames * 10 / kRate % 10);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Elapsed() == shown; }, kWaitMs)) << Elapsed().toStdString();
    }

    QTemporaryDir folder_;
    Feed feed_;
    std::unique_ptr<RecorderWindow> window_;
};

const QRegularExpression kDatedName(QStringLiteral(R"(^Zorvik \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.wav$)"));

TEST_F(RecorderWindowTest, StopKeepsTheRecordingUnderADatedName) {
    Open();
    EXPECT_FALSE(Button(QStringLiteral("Stop"))->isEnabled());
    EXPECT_FALSE(Button(QStringLiteral("Save As…"))->isEnabled());
    RecordSound(24000, 0.5f);
    EXPECT_FALSE(Button(QStringLiteral("Record"))->isEnabled());
    EXPECT_NEAR(window_->findChild<LevelMeter*>()->ShownDb(), -6.02, 0.1);

    Click(QStringLiteral("Stop"));
    const QStringList files = Recordings();
    ASSERT_EQ(files.size(), 1) << files.join(',').toStdString();
    EXPECT_TRUE(kDatedName.match(files[0]).hasMatch()) << files[0].toStdString();
    EXPECT_EQ(window_->LastRecording(), folder_.filePath(files[0]));
    EXPECT_EQ(FramesIn(window_->LastRecording()), 24000);
    EXPECT_TRUE(Button(QStringLiteral("Record"))->isEnabled());
    EXPECT_TRUE(Button(QStringLiteral("Save As…"))->isEnabled());
    EXPECT_LE(window_->findChild<LevelMeter*>()->ShownDb(), -60.0);
}

TEST_F(RecorderWindowTest, EachRecordingGetsItsOwnFile) {
    // Two recorders (Zorvik starts one per click) finishing in the same second, and then a second
    // take in one of them.
    Feed otherFeed;
    RecorderWindow other(otherFeed.Factory(), folder_.path());
    Open();
    other.Record();
    otherFeed.Push(Constant(4800, 0.1f));
    RecordSound(9600);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return other.findChild<QLabel*>(QStringLiteral("elapsed"))->text() == QStringLiteral("00:00.1");
        },
        kWaitMs));
    other.Stop();
    Click(QStringLiteral("Stop"));
    RecordSound(4800);
    Click(QStringLiteral("Stop"));

    QStringList files = Recordings();
    ASSERT_EQ(files.size(), 3) << files.join(',').toStdString();
    QList<sf_count_t> lengths;
    for (const QString& file : files) {
        lengths.append(FramesIn(folder_.filePath(file)));
    }
    std::sort(lengths.begin(), lengths.end());
    EXPECT_EQ(lengths, (QList<sf_count_t>{4800, 4800, 9600}));
}

struct CloseCase {
    const char* name;
    QMessageBox::StandardButton answer;
    int keptFiles;
    bool closes;
};

class CloseWhileRecording : public RecorderWindowTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseWhileRecording, AsksWhetherToSave) {
    const CloseCase& c = GetParam();
    Open();
    RecordSound(4800);
    window_->close();
    QMessageBox* question = Message();
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(window_->isVisible());
    question->button(c.answer)->click();

    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->isVisible() != c.closes; }, kWaitMs));
    EXPECT_EQ(window_->Recording(), !c.closes);
    if (!c.closes) {
        // Still recording, as if nothing had happened.
        feed_.Push(Constant(4800, 0.25f));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Elapsed() == QStringLiteral("00:00.2"); }, kWaitMs));
        Click(QStringLiteral("Stop"));
    }
    const QStringList files = Recordings();
    ASSERT_EQ(files.size(), c.keptFiles) << files.join(',').toStdString();
    if (c.keptFiles == 1) {
        EXPECT_EQ(FramesIn(folder_.filePath(files[0])), c.closes ? 4800 : 9600);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseWhileRecording,
                         ::testing::Values(CloseCase{"Save", QMessageBox::Save, 1, true},
                                           CloseCase{"Discard", QMessageBox::Discard, 0, true},
                                           CloseCase{"Cancel", QMessageBox::Cancel, 1, false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(RecorderWindowTest, CloseBeforeAnySoundHasNothingToAsk) {
    Open();
    Click(QStringLiteral("Record"));
    window_->close();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(window_->findChild<QMessageBox*>(), nullptr);
    EXPECT_TRUE(Recordings().isEmpty());
}

TEST_F(RecorderWindowTest, NoSoundServerIsExplained) {
    feed_.RefuseToOpen("No sound server is running, so there is nothing to record.");
    Open();
    Click(QStringLiteral("Record"));
    QMessageBox* message = Message();
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->text().startsWith(QStringLiteral("No sound server is running")))
        << message->text().toStdString();
    EXPECT_FALSE(window_->Recording());
    EXPECT_TRUE(Button(QStringLiteral("Record"))->isEnabled());
    EXPECT_TRUE(Recordings().isEmpty());
}

TEST_F(RecorderWindowTest, ServerGoingAwayKeepsWhatWasRecorded) {
    Open();
    RecordSound(9600);
    feed_.FailWith("The sound server stopped the recording.");
    QMessageBox* message = Message();
    ASSERT_NE(message, nullptr);
    const QStringList files = Recordings();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(message->text().contains(QStringLiteral("stopped the recording")));
    EXPECT_TRUE(message->text().contains(files[0])) << message->text().toStdString();
    EXPECT_EQ(FramesIn(folder_.filePath(files[0])), 9600);
}

TEST_F(RecorderWindowTest, UnwritableFolderIsExplained) {
    Open(folder_.filePath(QStringLiteral("missing")));
    Click(QStringLiteral("Record"));
    QMessageBox* message = Message();
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->text().contains(QStringLiteral("missing"))) << message->text().toStdString();
    EXPECT_FALSE(window_->Recording());
}

TEST_F(RecorderWindowTest, SaveAsMovesTheRecording) {
    Open();
    RecordSound(4800);
    Click(QStringLiteral("Stop"));
    const QString kept = window_->LastRecording();
    Click(QStringLiteral("Save As…"));
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (dialog = window_->findChild<QFileDialog*>()) != nullptr; }, kWaitMs));
    // Without the extension: the dialog adds it.
    dialog->selectFile(folder_.filePath(QStringLiteral("My drums")));
    static_cast<QDialog*>(dialog)->accept();

    const QString target = folder_.filePath(QStringLiteral("My drums.wav"));
    EXPECT_EQ(window_->LastRecording(), target);
    EXPECT_EQ(FramesIn(target), 4800);
    EXPECT_FALSE(QFileInfo::exists(kept));
}

}  // namespace
}  // namespace zorvik::recorder

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
