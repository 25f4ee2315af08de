#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "Identity.h"
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
    for (const auto& picture : kPictures) {
        expected << QStringLiteral("%1.png").arg(QLatin1String(picture.name));
    }
    expected.sort();
    EXPECT_EQ(QDir(QStringLiteral(":/skin")).entryList(QDir::Files, QDir::Name), expected);
}

// ----- Desktop icons ------------------------------------------------------------------------------------

// The icon of a size, named by the program's id: "png" or "svg".
QString IconFile(const QString& folder, const char* extension) {
    return QStringLiteral(ZORVIK_ICON_DIR "/%1/apps/%2.%3")
        .arg(folder, QLatin1String(zorvik::platform::kAppId), QLatin1String(extension));
}

// The strongest change any pixel goes through when the image is halved and scaled back. A drawing made at
// its own size keeps edges one pixel wide, which halving smears; a smaller drawing scaled up has no such
// edges left to lose.
int PeakChangeWhenHalved(const QImage& image) {
    const QImage soft = image.scaled(image.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int peak = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = soft.pixel(x, y);
            peak = std::max({peak, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                             std::abs(qBlue(a) - qBlue(b))});
        }
    }
    return peak;
}

class DesktopIcon : public testing::TestWithParam<int> {};

TEST_P(DesktopIcon, MatchesItsFolderAndHasSharpEdges) {
    const int size = GetParam();
    const QImage icon(IconFile(QStringLiteral("%1x%1").arg(size), "png"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(size, size));
    // Measured: each size drawn at its own size changes by 108 or more; the 32-pixel drawing scaled up
    // changes by 76 at 48 pixels and by 38 or less from 64 up.
    EXPECT_GE(PeakChangeWhenHalved(icon), 96);
}

INSTANTIATE_TEST_SUITE_P(Hicolor, DesktopIcon, testing::ValuesIn(zorvik::skin::kIconSizes),
                         [](const testing::TestParamInfo<int>& size) { return std::to_string(size.param); });

// No SVG renderer is installed to draw it, so check what a desktop needs to read it at all: well-formed
// XML whose root is a square SVG, and lettering present as outlines.
TEST(DesktopIcon, ScalableIsASquareSvgWithOutlinedLettering) {
    QFile file(IconFile(QStringLiteral("scalable"), "svg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QStringLiteral("svg"));
    const QStringList box =
        xml.attributes().value(QStringLiteral("viewBox")).toString().split(QLatin1Char(' '));
    ASSERT_EQ(box.size(), 4);
    EXPECT_EQ(box[2], box[3]);
    int outlines = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QStringLiteral("path")) {
            outlines += xml.attributes().value(QStringLiteral("d")).startsWith(QLatin1Char('M'));
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GE(outlines, 1);
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
        for (int x = 0; x < image.width(); ++x) {
            off += image.pixel(x, y) != qRgb(51, 51, 51);
        }
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
