#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>
#include <string>

#include "Skin.h"

namespace {

using zorvik::skin::kPictures;
using zorvik::skin::PictureSize;

QString ResourcePath(const char* name) {
    return QStringLiteral(":/skin/%1.png").arg(QLatin1String(name));
}

std::string PictureName(const testing::TestParamInfo<PictureSize>& picture) {
    return picture.param.name;
}

class SkinPicture : public testing::TestWithParam<PictureSize> {};

TEST_P(SkinPicture, LoadsAtItsLayoutSize) {
    const QPixmap pixmap = zorvik::skin::Picture(GetParam().name);
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.width(), GetParam().width);
    EXPECT_EQ(pixmap.height(), GetParam().height);
    EXPECT_FALSE(pixmap.hasAlphaChannel());
}

// Qt would hide an alpha channel or a palette behind its own pixel formats, so read the PNG header.
TEST_P(SkinPicture, IsStoredAsPlain24BitRgb) {
    QFile file(ResourcePath(GetParam().name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(26);
    ASSERT_EQ(header.size(), 26);
    ASSERT_EQ(header.mid(12, 4), QByteArray("IHDR"));
    EXPECT_EQ(header.at(24), 8) << "bits per channel";
    EXPECT_EQ(header.at(25), 2) << "PNG colour type (2 = RGB, no alpha)";
}

TEST_P(SkinPicture, StaysClearOfTheWindowTransparencyKey) {
    const QImage image(ResourcePath(GetParam().name));
    ASSERT_FALSE(image.isNull());
    int nearKey = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            nearKey += qRed(c) <= 16 && qGreen(c) >= 239 && qBlue(c) >= 239;
        }
    }
    EXPECT_EQ(nearKey, 0);
}

INSTANTIATE_TEST_SUITE_P(All, SkinPicture, testing::ValuesIn(kPictures), PictureName);

// The build draws the pictures and lists them in the resource file in two separate places; both must
// agree with the table the program uses.
TEST(Skin, ResourcesHoldExactlyTheListedPictures) {
    QStringList expected;
    for (const auto& picture : kPictures)
        expected << QStringLiteral("%1.png").arg(QLatin1String(picture.name));
    expected.sort();
    EXPECT_EQ(QDir(QStringLiteral(":/skin")).entryList(QDir::Files, QDir::Name), expected);
}

TEST(Skin, UnknownPictureIsNull) {
    EXPECT_TRUE(zorvik::skin::Picture("NoSuchPicture").isNull());
}

// The background is stretched to the window, so anything but a flat colour would smear.
TEST(Skin, BackgroundIsFlatGrey) {
    const QImage image = zorvik::skin::Picture("BackgroundPicture").toImage();
    ASSERT_FALSE(image.isNull());
    int off = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) off += image.pixel(x, y) != qRgb(51, 51, 51);
    }
    EXPECT_EQ(off, 0);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    zorvik::skin::InitResources();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
