// Draws the skin pictures at build time, so the art lives in the repository as code that can be
// reviewed and tweaked rather than as opaque image files.
//
// usage: zorvik_draw_skin -platform offscreen <output folder>
// Writes <Name>.png for every picture in kPictures plus skin.qrc listing them under :/skin/.
// usage: zorvik_draw_skin -platform offscreen --icons <output folder>
// Writes the desktop icons, hicolor style, from the same drawing as the window's AppIcon.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "Identity.h"
#include "Skin.h"

namespace {

using zorvik::skin::kPictures;

// The house blue and its glossy relatives.
const QColor kBlue(0, 150, 205);
const QColor kBlueLight(70, 185, 230);
const QColor kBlueDeep(0, 100, 150);
const QColor kBlueDark(0, 55, 85);
const QColor kEdgeLight(165, 222, 245);
// Top-edge line of the pad bars: as bright and cyan as it can be while staying clear of the key.
const QColor kCyanLine(60, 205, 245);
const QColor kInk(12, 14, 18);

// The brand face is Perpetua; EB Garamond stands in for it so the build needs nothing beyond Debian's
// free fonts.
constexpr const char* kSerif = "Perpetua";
constexpr const char* kSerifStandIn = "EB Garamond";

QFont BoldFont(const char* family, double pixelSize) {
    QFont font(QString::fromLatin1(family));
    font.setBold(true);
    font.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::NoFontMerging);
    return font;
}

// Without the right fonts the pictures would be drawn in whatever the machine falls back to, and the
// build would quietly differ from one machine to the next.
bool FontsAvailable() {
    QFont::insertSubstitution(QString::fromLatin1(kSerif), QString::fromLatin1(kSerifStandIn));
    const QFont font = BoldFont(kSerif, 20);
    const QString actual = QFontInfo(font).family();
    if (actual != QString::fromLatin1(kSerifStandIn) || !QFontMetricsF(font).inFontUcs4(0xAE)) {
        std::fprintf(stderr, "zorvik_draw_skin: %s resolved to %s; install fonts-ebgaramond\n", kSerifStandIn,
                     qPrintable(actual));
        return false;
    }
    return true;
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// How strongly the light copy under engraved lettering shows.
constexpr int kEngravingAlpha = 90;

QColor WithAlpha(QColor c, int alpha) {
    c.setAlpha(alpha);
    return c;
}

QImage Canvas(int width, int height, const QColor& fill) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

// The glossy look used throughout: a lighter upper half that breaks sharply at the middle into a
// deeper lower half, a light line along the top and a dark one along the bottom.
void Gloss(QPainter& p, const QRectF& r, const QColor& bottomEdge) {
    constexpr double kSplit = 0.5;
    const double h = r.height();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, Mix(kBlueLight, Qt::white, 0.25));
    g.setColorAt(kSplit - 0.001, Mix(kBlue, kBlueLight, 0.35));
    g.setColorAt(kSplit, Mix(kBlue, kBlueDeep, 0.25));
    g.setColorAt(1.0 - 1.5 / h, kBlueDeep);
    g.setColorAt(1.0, bottomEdge);
    p.fillRect(r, g);
    p.fillRect(QRectF(r.left(), r.top(), r.width(), 1), kEdgeLight);
}

// Lettering looks pressed into the gloss: a faint light copy `depth` pixels below the dark glyphs.
void Engrave(QPainter& p, const QPainterPath& text, double depth) {
    p.setPen(Qt::NoPen);
    p.setBrush(WithAlpha(kEdgeLight, kEngravingAlpha));
    p.drawPath(text.translated(0, depth));
    p.setBrush(kInk);
    p.drawPath(text);
}

// Text is filled as outlines so the result depends on the font file only, not on the rasteriser's
// hinting settings.
void EngravedText(QPainter& p, const QFont& font, const QPointF& baseline, const QString& text) {
    QPainterPath path;
    path.addText(baseline, font, text);
    Engrave(p, path, 1);
}

// Largest bold serif size at which `text` fits `width`.
double FitSerif(const QString& text, double width, double maxPixelSize) {
    const double atTen = QFontMetricsF(BoldFont(kSerif, 10)).horizontalAdvance(text);
    return std::min(maxPixelSize, std::floor(10 * width / atTen));
}

// --- the pictures -------------------------------------------------------------------------------

// A drum seen from above, the emblem at the left of the splash banner.
void DrumEmblem(QPainter& p, const QPointF& c, double radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(WithAlpha(Qt::black, 60));
    p.drawEllipse(c + QPointF(1.5, 2), radius, radius);

    QLinearGradient rim(c - QPointF(0, radius), c + QPointF(0, radius));
    rim.setColorAt(0, QColor(200, 210, 218));
    rim.setColorAt(0.5, QColor(90, 100, 110));
    rim.setColorAt(1, QColor(40, 44, 50));
    p.setBrush(rim);
    p.drawEllipse(c, radius, radius);

    // Tension lugs around the hoop.
    p.setBrush(QColor(215, 222, 228));
    for (int i = 0; i < 8; ++i) {
        const double a = (i + 0.5) * M_PI / 4;
        const QPointF at = c + QPointF(std::cos(a), std::sin(a)) * (radius - 2.2);
        p.drawEllipse(at, 1.6, 1.6);
    }

    const double head = radius - 4.5;
    QRadialGradient skin(c - QPointF(head * 0.35, head * 0.4), head * 1.3);
    skin.setColorAt(0, QColor(235, 246, 252));
    skin.setColorAt(0.45, QColor(150, 210, 238));
    skin.setColorAt(1, QColor(40, 140, 190));
    p.setBrush(skin);
    p.setPen(QPen(QColor(20, 60, 85), 1));
    p.drawEllipse(c, head, head);

    p.setPen(Qt::NoPen);
    p.setBrush(WithAlpha(kBlueDark, 70));
    p.drawEllipse(c, head * 0.28, head * 0.28);
}

QImage Splash() {
    QImage image = Canvas(300, 100, kBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Gloss(p, QRectF(0, 0, 300, 100), kBlueDark);

    // The lighter band that runs along the bottom, soft on both sides.
    QLinearGradient band(0, 80, 0, 96);
    band.setColorAt(0, WithAlpha(kBlueLight, 0));
    band.setColorAt(0.45, WithAlpha(Mix(kBlueLight, Qt::white, 0.2), 230));
    band.setColorAt(0.7, WithAlpha(kBlueLight, 200));
    band.setColorAt(1, WithAlpha(kBlueLight, 0));
    p.fillRect(QRectF(0, 80, 300, 16), band);
    p.fillRect(QRectF(0, 99, 300, 1), kBlueDark);

    DrumEmblem(p, QPointF(40, 49), 29);

    // EB Garamond already draws the registered sign small and raised, as print does.
    const QString text = QStringLiteral("Norvane\u00AE Studio Lines");
    const QFont font = BoldFont(kSerif, FitSerif(text, 212, 30));
    const QFontMetricsF fm(font);
    EngravedText(p, font, QPointF(80 + (212 - fm.horizontalAdvance(text)) / 2, 50 + fm.capHeight() / 2),
                 text);
    return image;
}

// The application icon, drawn for one size at that size: a larger icon is a finer drawing, not a blown-up
// small one. Both the PNGs and the SVG are made from this description, so they cannot drift apart.
struct IconArt {
    QRectF dome;
    QRadialGradient domeFill;
    QRectF edge;  // the light line along the top of the dome
    QPainterPath text;
    double depth;  // of the engraving
};

IconArt AppIconArt(int size) {
    const double unit = size / 32.0;
    // Rims and offsets are whole pixels: a fractional width would be a blur at every edge.
    const double pixel = std::max(1.0, std::round(unit));
    IconArt art{.dome = QRectF(pixel, pixel, size - 2 * pixel, size - 2 * pixel),
                .domeFill = QRadialGradient(QPointF(11, 7) * unit, 30 * unit),
                .edge = QRectF(pixel, pixel, size - 2 * pixel, pixel),
                .text = {},
                .depth = pixel};
    // A soft dome rather than the hard gloss break, which would cut straight through the lettering.
    art.domeFill.setColorAt(0, QColor(175, 228, 248));
    art.domeFill.setColorAt(0.45, QColor(40, 170, 222));
    art.domeFill.setColorAt(1, kBlueDeep);

    // Four letters below 24 pixels would be a grey smudge; the initial alone still reads.
    const QString text = size < 24 ? QStringLiteral("Z") : QStringLiteral("Zorv");
    const QFont font = BoldFont(kSerif, FitSerif(text, 27 * unit, size / 2.0));
    const QFontMetricsF fm(font);
    art.text.addText(QPointF((size - fm.horizontalAdvance(text)) / 2, size / 2.0 + fm.capHeight() / 2), font,
                     text);
    return art;
}

QImage AppIcon(int size) {
    const IconArt art = AppIconArt(size);
    QImage image = Canvas(size, size, kBlueDark);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(art.dome, art.domeFill);
    p.fillRect(art.edge, kEdgeLight);
    Engrave(p, art.text, art.depth);
    return image;
}

QString SvgColour(const QColor& c) {
    return c.name(QColor::HexRgb);
}

QString SvgPathData(const QPainterPath& path) {
    QString d;
    QTextStream out(&d);
    out.setRealNumberPrecision(6);
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
            case QPainterPath::MoveToElement:
                out << 'M' << e.x << ' ' << e.y;
                break;
            case QPainterPath::LineToElement:
                out << 'L' << e.x << ' ' << e.y;
                break;
            case QPainterPath::CurveToElement: {
                const QPainterPath::Element c2 = path.elementAt(i + 1);
                const QPainterPath::Element to = path.elementAt(i + 2);
                out << 'C' << e.x << ' ' << e.y << ' ' << c2.x << ' ' << c2.y << ' ' << to.x << ' ' << to.y;
                i += 2;
                break;
            }
            case QPainterPath::CurveToDataElement:
                break;  // consumed with its curve
        }
    }
    return d;
}

// The scalable icon, written as plain SVG text; the lettering goes in as outlines, so a viewer needs none
// of our fonts.
QString AppIconSvg(int size) {
    const IconArt art = AppIconArt(size);
    const QString fillRule =
        art.text.fillRule() == Qt::WindingFill ? QStringLiteral("nonzero") : QStringLiteral("evenodd");
    QString svg;
    QTextStream out(&svg);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << size << "\" height=\"" << size
        << "\" viewBox=\"0 0 " << size << ' ' << size << "\">\n"
        << "  <defs>\n    <radialGradient id=\"dome\" gradientUnits=\"userSpaceOnUse\" cx=\""
        << art.domeFill.center().x() << "\" cy=\"" << art.domeFill.center().y() << "\" r=\""
        << art.domeFill.radius() << "\">\n";
    for (const auto& [offset, colour] : art.domeFill.stops()) {
        out << "      <stop offset=\"" << offset << "\" stop-color=\"" << SvgColour(colour) << "\"/>\n";
    }
    out << "    </radialGradient>\n  </defs>\n"
        << "  <rect width=\"" << size << "\" height=\"" << size << "\" fill=\"" << SvgColour(kBlueDark)
        << "\"/>\n";
    const auto rect = [&out](const QRectF& r, const QString& fill) {
        out << "  <rect x=\"" << r.x() << "\" y=\"" << r.y() << "\" width=\"" << r.width() << "\" height=\""
            << r.height() << "\" fill=\"" << fill << "\"/>\n";
    };
    rect(art.dome, QStringLiteral("url(#dome)"));
    rect(art.edge, SvgColour(kEdgeLight));
    out << "  <path transform=\"translate(0 " << art.depth << ")\" fill=\"" << SvgColour(kEdgeLight)
        << "\" fill-opacity=\"" << kEngravingAlpha / 255.0 << "\" fill-rule=\"" << fillRule << "\" d=\""
        << SvgPathData(art.text) << "\"/>\n"
        << "  <path fill=\"" << SvgColour(kInk) << "\" fill-rule=\"" << fillRule << "\" d=\""
        << SvgPathData(art.text) << "\"/>\n"
        << "</svg>\n";
    return svg;
}

void PadBar(QPainter& p) {
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0.0, kCyanLine);
    g.setColorAt(0.06, Mix(kBlue, kBlueLight, 0.3));
    g.setColorAt(0.45, Mix(kBlueLight, Qt::white, 0.1));
    g.setColorAt(0.55, kBlueLight);
    g.setColorAt(0.85, kBlue);
    g.setColorAt(0.95, kBlueDeep);
    g.setColorAt(1.0, kBlueDark);
    p.fillRect(QRectF(0, 0, 100, 20), g);
    p.fillRect(QRectF(0, 0, 100, 1), kCyanLine);
    // Hairline ends so neighbouring rows read as separate keys.
    p.fillRect(QRectF(0, 1, 1, 19), WithAlpha(kEdgeLight, 110));
    p.fillRect(QRectF(99, 1, 1, 19), WithAlpha(kBlueDark, 160));
}

QImage Pad() {
    QImage image = Canvas(100, 20, kBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    PadBar(p);
    return image;
}

QImage PadPressed() {
    QImage image = Canvas(100, 20, kBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    PadBar(p);

    // The glow swells towards the lamp but stays thin over the left three quarters, where the drum
    // name is written in black.
    QLinearGradient sweep(0, 0, 100, 0);
    sweep.setColorAt(0.0, WithAlpha(Qt::white, 0));
    sweep.setColorAt(0.55, WithAlpha(Qt::white, 25));
    sweep.setColorAt(0.85, WithAlpha(Qt::white, 140));
    sweep.setColorAt(1.0, WithAlpha(Qt::white, 90));
    p.fillRect(QRectF(0, 1, 100, 18), sweep);

    const QPointF lamp(90, 10);
    QRadialGradient halo(lamp, 18);
    halo.setColorAt(0, WithAlpha(Qt::white, 200));
    halo.setColorAt(1, WithAlpha(Qt::white, 0));
    p.fillRect(QRectF(70, 1, 30, 18), halo);

    p.setPen(QPen(kBlueDark, 1));
    QRadialGradient bulb(lamp - QPointF(1.5, 2), 7);
    bulb.setColorAt(0, QColor(240, 250, 255));
    bulb.setColorAt(0.3, QColor(110, 210, 250));
    bulb.setColorAt(0.75, QColor(20, 160, 225));
    bulb.setColorAt(1, QColor(0, 110, 170));
    p.setBrush(bulb);
    p.drawRoundedRect(QRectF(lamp.x() - 5.5, lamp.y() - 5.5, 11, 11), 4, 4);
    return image;
}

QImage Close(bool over) {
    QImage image = Canvas(15, 15, kBlueDark);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (over) {
        QRadialGradient glow(QPointF(7.5, 6.5), 9);
        glow.setColorAt(0, QColor(225, 245, 255));
        glow.setColorAt(0.45, QColor(120, 210, 245));
        glow.setColorAt(1, QColor(30, 165, 220));
        p.fillRect(QRectF(1, 1, 13, 13), glow);
    } else {
        Gloss(p, QRectF(1, 1, 13, 13), kBlueDeep);
    }
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4.5, 4.5), QPointF(10.5, 10.5));
    p.drawLine(QPointF(10.5, 4.5), QPointF(4.5, 10.5));
    return image;
}

QImage TitleStrip() {
    QImage image = Canvas(500, 15, kBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Gloss(p, QRectF(0, 0, 500, 15), kBlueDeep);
    p.fillRect(QRectF(0, 14, 500, 1), Qt::black);

    const QFont font = BoldFont(kSerif, 12);
    EngravedText(p, font, QPointF(6, 7 + QFontMetricsF(font).capHeight() / 2),
                 QStringLiteral("Norvane Studio Lines"));
    return image;
}

// Woven carbon: neighbouring cells run crosswise to each other, each with a sheen across its middle
// the way light catches a round bundle of fibres.
void Carbon(QPainter& p, const QRect& r) {
    constexpr int kCell = 4;
    for (int y = r.top(); y <= r.bottom(); y += kCell) {
        for (int x = r.left(); x <= r.right(); x += kCell) {
            const bool across = (x / kCell + y / kCell) % 2 == 0;
            const QRectF cell(x, y, kCell, kCell);
            QLinearGradient g(cell.topLeft(), across ? cell.bottomLeft() : cell.topRight());
            g.setColorAt(0, QColor(20, 20, 22));
            g.setColorAt(0.45, QColor(58, 60, 64));
            g.setColorAt(1, QColor(24, 24, 26));
            p.fillRect(cell.intersected(r), g);
        }
    }
}

void TransportButton(QPainter& p, const QPointF& c) {
    constexpr double kRadius = 11;
    p.setPen(Qt::NoPen);
    p.setBrush(WithAlpha(Qt::black, 120));
    p.drawEllipse(c + QPointF(0, 1.2), kRadius + 0.8, kRadius + 0.8);

    QRadialGradient face(c - QPointF(3.5, 4.5), kRadius * 1.6);
    face.setColorAt(0, QColor(170, 225, 248));
    face.setColorAt(0.35, QColor(40, 170, 225));
    face.setColorAt(0.8, kBlue);
    face.setColorAt(1, kBlueDeep);
    p.setBrush(face);
    p.setPen(QPen(kBlueDark, 1));
    p.drawEllipse(c, kRadius, kRadius);

    // A soft lens highlight across the top of the dome.
    QLinearGradient lens(c.x(), c.y() - kRadius, c.x(), c.y());
    lens.setColorAt(0, WithAlpha(Qt::white, 120));
    lens.setColorAt(1, WithAlpha(Qt::white, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(lens);
    p.drawEllipse(QRectF(c.x() - kRadius * 0.7, c.y() - kRadius + 1.5, kRadius * 1.4, kRadius * 0.9));
}

// A slotted screw head, the kind that holds a faceplate on.
void Screw(QPainter& p, const QPointF& c) {
    QRadialGradient head(c - QPointF(1, 1), 4);
    head.setColorAt(0, QColor(225, 230, 235));
    head.setColorAt(1, QColor(95, 105, 115));
    p.setPen(QPen(kBlueDark, 0.8));
    p.setBrush(head);
    p.drawEllipse(c, 2.8, 2.8);
    p.setPen(QPen(QColor(50, 55, 60), 1));
    p.drawLine(c + QPointF(-1.8, 1.2), c + QPointF(1.8, -1.2));
}

QImage TransportPanel() {
    QImage image = Canvas(300, 100, kBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // No hard gloss break here: the text box, sliders and their captions sit on this area.
    QLinearGradient g(0, 0, 0, 70);
    g.setColorAt(0.0, Mix(kBlueLight, Qt::white, 0.25));
    g.setColorAt(0.18, Mix(kBlue, kBlueLight, 0.55));
    g.setColorAt(0.6, kBlue);
    g.setColorAt(1.0, Mix(kBlue, kBlueDeep, 0.6));
    p.fillRect(QRectF(0, 0, 300, 70), g);
    p.fillRect(QRectF(0, 0, 300, 1), kEdgeLight);
    p.fillRect(QRectF(0, 1, 1, 69), WithAlpha(kEdgeLight, 120));
    p.fillRect(QRectF(299, 1, 1, 69), WithAlpha(kBlueDark, 150));
    Screw(p, QPointF(9, 9));
    Screw(p, QPointF(290, 9));

    Carbon(p, QRect(0, 70, 300, 30));
    // The strip is set into the panel: a dark lip above it and a shadow falling onto the weave.
    p.fillRect(QRectF(0, 69, 300, 1), kBlueDark);
    QLinearGradient shade(0, 70, 0, 75);
    shade.setColorAt(0, WithAlpha(Qt::black, 170));
    shade.setColorAt(1, WithAlpha(Qt::black, 0));
    p.fillRect(QRectF(0, 70, 300, 5), shade);
    p.fillRect(QRectF(0, 99, 300, 1), QColor(8, 8, 10));

    // Centred under the Stop, Play and Load captions.
    for (const double x : {191.0, 223.0, 249.0}) {
        TransportButton(p, QPointF(x, 86.5));
    }
    return image;
}

QImage Background() {
    return Canvas(500, 400, QColor(51, 51, 51));
}

bool NearKeyAnywhere(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (zorvik::skin::NearTransparencyKey(qRed(c), qGreen(c), qBlue(c))) {
                return true;
            }
        }
    }
    return false;
}

bool WriteQrc(const QDir& dir) {
    QFile file(dir.filePath(QStringLiteral("skin.qrc")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        return false;
    }
    QTextStream out(&file);
    out << "<RCC>\n  <qresource prefix=\"/skin\">\n";
    for (const auto& picture : kPictures) {
        out << "    <file>" << picture.name << ".png</file>\n";
    }
    out << "  </qresource>\n</RCC>\n";
    return out.status() == QTextStream::Ok;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
           file.flush();
}

int DrawSkin(const QDir& dir) {
    const std::map<std::string, std::function<QImage(int width)>> painters{
        {"SplashPicture", [](int) { return Splash(); }},
        {"AppIcon", AppIcon},
        {"PadPicture", [](int) { return Pad(); }},
        {"PadPressedPicture", [](int) { return PadPressed(); }},
        {"ClosePicture", [](int) { return Close(false); }},
        {"CloseOverPicture", [](int) { return Close(true); }},
        {"TitleStripPicture", [](int) { return TitleStrip(); }},
        {"TransportPanelPicture", [](int) { return TransportPanel(); }},
        {"BackgroundPicture", [](int) { return Background(); }},
    };
    for (const auto& picture : kPictures) {
        const QImage image = painters.at(picture.name)(picture.width).convertToFormat(QImage::Format_RGB888);
        if (image.width() != picture.width || image.height() != picture.height) {
            std::fprintf(stderr, "zorvik_draw_skin: %s drawn at %dx%d\n", picture.name, image.width(),
                         image.height());
            return 1;
        }
        if (NearKeyAnywhere(image)) {
            std::fprintf(stderr, "zorvik_draw_skin: %s comes too close to the transparency key\n",
                         picture.name);
            return 1;
        }
        const QString path = dir.filePath(QStringLiteral("%1.png").arg(QLatin1String(picture.name)));
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "zorvik_draw_skin: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    if (!WriteQrc(dir)) {
        std::fprintf(stderr, "zorvik_draw_skin: cannot write skin.qrc\n");
        return 1;
    }
    return 0;
}

// The desktop icons in the hicolor theme's layout, named by the program's id: <n>x<n>/apps/<id>.png and
// scalable/apps/<id>.svg.
int DrawIcons(const QDir& root) {
    for (const int size : zorvik::skin::kIconSizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path =
            root.filePath(folder + QStringLiteral("/%1.png").arg(QLatin1String(zorvik::platform::kAppId)));
        if (!root.mkpath(folder) || !AppIcon(size).convertToFormat(QImage::Format_RGB888).save(path, "PNG")) {
            std::fprintf(stderr, "zorvik_draw_skin: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const QString svg =
        root.filePath(QStringLiteral("scalable/apps/%1.svg").arg(QLatin1String(zorvik::platform::kAppId)));
    if (!root.mkpath(QStringLiteral("scalable/apps")) ||
        !WriteFile(svg, AppIconSvg(zorvik::skin::kIconSizes.back()).toUtf8())) {
        std::fprintf(stderr, "zorvik_draw_skin: cannot write %s\n", qPrintable(svg));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList args = QGuiApplication::arguments();
    const bool icons = args.size() == 3 && args.at(1) == QStringLiteral("--icons");
    if (icons) {
        args.removeAt(1);
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: zorvik_draw_skin -platform offscreen [--icons] <output folder>\n");
        return 2;
    }
    if (!FontsAvailable()) {
        return 1;
    }
    const QDir dir(args.at(1));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "zorvik_draw_skin: cannot create %s\n", qPrintable(dir.path()));
        return 1;
    }
    return icons ? DrawIcons(dir) : DrawSkin(dir);
}
