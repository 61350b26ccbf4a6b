// Draws the bitmaps and icons of Pitchloom Pro with QPainter and writes them as PNG files.
//
// Usage: pitchloom_make_artwork RESOURCES_DIR [--preview FILE.png]
//
// Writes RESOURCES_DIR/bitmaps/<id>.png (24-bit RGB, the sizes the main window lays out) and
// RESOURCES_DIR/icons/pitchloom*.png (the program icon, with transparency). With --preview it
// also writes a picture of the whole window face: the panel with the buttons and keys placed at
// their rectangles, their captions, and stand-ins for the standard controls, for a look at the
// artwork as a whole. scripts/make-artwork builds and runs this program.
//
// Everything is drawn from code, deterministically (no random numbers), so the committed images
// can be regenerated at any time. resources/icons/pitchloom.svg is the icon's scalable twin,
// written by hand with the same geometry (the 128 x 128 design grid of drawIcon): keep the two in
// step.

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QString>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Colours and layout of the main window (pixels of its 691 x 430 client area).

const QColor kPanel(159, 159, 159);        // dialog background of the program
const QColor kLabelText(31, 63, 31);       // control text colour of the program
const QColor kCaption(0, 100, 0);          // captions drawn over buttons and keys
const QColor kKeybed(46, 50, 57);          // the dark well the piano keys stand in
const QColor kGrooveDark(116, 116, 116);   // engraved line: the cut
const QColor kGrooveLight(198, 198, 198);  // engraved line: the lit lower edge

constexpr int kPanelWidth = 691;
constexpr int kPanelHeight = 430;

// Dialog units of the window template to client pixels (7/4 across, 12/8 down).
constexpr double duX(double du) {
    return du * 7.0 / 4.0;
}
constexpr double duY(double du) {
    return du * 12.0 / 8.0;
}

constexpr int kKeyWidth = 45;
constexpr int kKeyHeight = 78;
constexpr int kWhiteKeyTop = 188;
constexpr int kBlackKeyTop = 104;
constexpr int kWhiteKeyLefts[] = {210, 280, 350, 420, 490, 560, 630};
constexpr int kBlackKeyLefts[] = {245, 315, 455, 525, 595};

// Value boxes (C..B) and sliders stand in columns 20 dialog units apart, with no column
// between E and F.
constexpr int kColumnUnits[] = {120, 140, 160, 180, 200, 240, 260, 280, 300, 320, 340, 360};

constexpr int kBarWidth = 115;
constexpr int kBarHeight = 32;
constexpr int kPowerSize = 60;
constexpr int kPowerLeft = 18;
constexpr int kPowerTop = 365;
constexpr int kLogoWidth = 200;
constexpr int kLogoHeight = 100;

// A font of the named family at a size in pixels, so that the images do not depend on the
// screen resolution of the machine that draws them.
QFont pixelFont(const QString& family, int pixels, int weight = QFont::Normal) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QColor withAlpha(QColor c, int alpha) {
    c.setAlpha(alpha);
    return c;
}

QImage newImage(int width, int height, const QColor& background) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Panel details

// An engraved line along a rounded rectangle: a dark cut with a lit edge below and right of it.
void groove(QPainter& p, const QRectF& r, double radius) {
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGrooveLight, 1.0));
    p.drawRoundedRect(r.translated(1, 1), radius, radius);
    p.setPen(QPen(kGrooveDark, 1.0));
    p.drawRoundedRect(r, radius, radius);
    p.restore();
}

// An engraved straight line.
void grooveLine(QPainter& p, QPointF a, QPointF b) {
    p.save();
    p.setPen(QPen(kGrooveLight, 1.0));
    p.drawLine(a + QPointF(1, 1), b + QPointF(1, 1));
    p.setPen(QPen(kGrooveDark, 1.0));
    p.drawLine(a, b);
    p.restore();
}

// Text pressed into the panel: dark letters with a lit edge below them.
void engravedText(QPainter& p, const QRectF& r, int flags, const QString& text, const QFont& font) {
    p.save();
    p.setFont(font);
    p.setPen(QColor(205, 205, 205));
    p.drawText(r.translated(0.8, 0.9), flags, text);
    p.setPen(QColor(84, 86, 84));
    p.drawText(r, flags, text);
    p.restore();
}

// A sharp sign (two stems, two rising bars) centred on c, as strokes of one pen.
QPainterPath sharpSign(QPointF c) {
    QPainterPath sign;
    sign.moveTo(c + QPointF(-2.5, -9));
    sign.lineTo(c + QPointF(-2.5, 10));
    sign.moveTo(c + QPointF(2.5, -10));
    sign.lineTo(c + QPointF(2.5, 9));
    sign.moveTo(c + QPointF(-6, -1));
    sign.lineTo(c + QPointF(6, -4.5));
    sign.moveTo(c + QPointF(-6, 5));
    sign.lineTo(c + QPointF(6, 1.5));
    return sign;
}

// A flat sign (a stem and a bowl) centred on c.
QPainterPath flatSign(QPointF c) {
    QPainterPath sign;
    sign.moveTo(c + QPointF(-3, -11));
    sign.lineTo(c + QPointF(-3, 8));
    sign.cubicTo(c + QPointF(1, 5), c + QPointF(6, 2), c + QPointF(5, -1.5));
    sign.cubicTo(c + QPointF(4, -4.5), c + QPointF(0, -3.5), c + QPointF(-3, -0.5));
    return sign;
}

// A sign cut into the panel.
void engravedSign(QPainter& p, const QPainterPath& sign) {
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(205, 205, 205), 1.6, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(sign.translated(0.8, 0.9));
    p.setPen(QPen(QColor(84, 86, 84), 1.6, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(sign);
    p.restore();
}

// The raised bevel of the whole panel, drawn pixel-exact along the image border.
void panelBevel(QPainter& p, int width, int height) {
    const QColor light[] = {QColor(236, 236, 236), QColor(212, 212, 212), QColor(186, 186, 186)};
    const QColor dark[] = {QColor(64, 64, 64), QColor(104, 104, 104), QColor(134, 134, 134)};
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < 3; ++i) {
        p.setPen(light[i]);
        p.drawLine(i, i, width - 1 - i, i);
        p.drawLine(i, i, i, height - 1 - i);
        p.setPen(dark[i]);
        p.drawLine(i, height - 1 - i, width - 1 - i, height - 1 - i);
        p.drawLine(width - 1 - i, i, width - 1 - i, height - 1 - i);
    }
    p.restore();
}

// A well sunk into the panel: a lit rim below and right, a shadowed rim above and left, the
// floor filled with one colour and a soft shadow inside along its upper and left edges.
void sunkenWell(QPainter& p, const QPainterPath& well, const QColor& floor) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 214, 214));
    p.drawPath(well.translated(1, 1));
    p.setBrush(QColor(98, 98, 98));
    p.drawPath(well.translated(-1, -1));
    p.setBrush(floor);
    p.drawPath(well);
    p.setClipPath(well);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(QColor(0, 0, 0, 70 - 16 * i), 1.0));
        p.drawPath(well.translated(1.0 + i, 1.0 + i));
    }
    p.restore();
}

// A round grille of small holes, like the speaker of a portable instrument.
void grille(QPainter& p, QPointF centre, double radius) {
    p.save();
    p.setPen(Qt::NoPen);
    const double step = 5.0;
    int row = 0;
    for (double y = centre.y() - radius; y <= centre.y() + radius; y += step * 0.866, ++row) {
        const double shift = (row % 2) ? step / 2 : 0.0;
        for (double x = centre.x() - radius - shift; x <= centre.x() + radius; x += step) {
            const double dx = x - centre.x();
            const double dy = y - centre.y();
            if (std::hypot(dx, dy) > radius - 1.5) continue;
            p.setBrush(QColor(206, 206, 206));
            p.drawEllipse(QPointF(x + 0.6, y + 0.6), 1.45, 1.45);
            p.setBrush(QColor(58, 60, 62));
            p.drawEllipse(QPointF(x, y), 1.45, 1.45);
        }
    }
    p.restore();
}

// A slotted screw head set into the panel.
void screw(QPainter& p, QPointF c, double angleDegrees) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 210, 210));
    p.drawEllipse(c + QPointF(0.7, 0.7), 3.6, 3.6);
    p.setBrush(QColor(104, 104, 104));
    p.drawEllipse(c, 3.6, 3.6);
    QRadialGradient head(c - QPointF(1.2, 1.2), 4.0);
    head.setColorAt(0.0, QColor(238, 238, 236));
    head.setColorAt(1.0, QColor(140, 142, 140));
    p.setBrush(head);
    p.drawEllipse(c, 2.9, 2.9);
    p.translate(c);
    p.rotate(angleDegrees);
    p.setPen(QPen(QColor(70, 72, 70), 1.1));
    p.drawLine(QPointF(-2.3, 0), QPointF(2.3, 0));
    p.restore();
}

// ---------------------------------------------------------------------------------------------
// 131: the panel behind the whole window.

QImage drawPanel() {
    QImage image = newImage(kPanelWidth, kPanelHeight, kPanel);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    panelBevel(p, kPanelWidth, kPanelHeight);

    // The logo sits in a plate at the top left.
    groove(p, QRectF(7.5, 5.5, 209, 110), 5);

    // Play and Convert with the two lines that explain them.
    groove(p, QRectF(221.5, 13.5, 373, 82), 6);
    // A small grille at the top right.
    groove(p, QRectF(603.5, 13.5, 79, 82), 6);
    grille(p, QPointF(643, 54.5), 31);
    screw(p, QPointF(612, 22.5), 30);
    screw(p, QPointF(674, 87.5), 120);

    // The four lists with their labels.
    groove(p, QRectF(9.5, 133.5, 187, 129), 6);

    // The keybed: a dark well shaped to the two rows of keys, with a strip of felt along the top.
    QPainterPath upper;
    upper.addRoundedRect(QRectF(238, 97, 409, 92), 5, 5);
    QPainterPath lower;
    lower.addRoundedRect(QRectF(203, 183, 479, 89), 5, 5);
    const QPainterPath keybed = upper.united(lower).simplified();
    sunkenWell(p, keybed, kKeybed);
    p.save();
    p.setClipPath(keybed);
    p.setPen(Qt::NoPen);
    QLinearGradient felt(0, 97, 0, 102);
    felt.setColorAt(0.0, QColor(72, 18, 22));
    felt.setColorAt(1.0, QColor(128, 34, 40));
    p.setBrush(felt);
    p.drawRect(QRectF(238, 97, 409, 4.5));
    p.restore();

    // Value boxes and sliders, with a mark at the middle of each slider's travel (0 cents) and,
    // in the gap between E and F, a sharp at the top and a flat at the bottom of the travel.
    groove(p, QRectF(203.5, 275.5, 479, 150), 6);
    const double sliderTop = duY(207);
    const double sliderHeight = duY(74);
    const double middle = std::floor(sliderTop + sliderHeight / 2) + 0.5;
    for (int column : kColumnUnits) {
        const double left = duX(column + 5);
        const double right = duX(column + 15);
        grooveLine(p, QPointF(std::floor(left) - 6.5, middle),
                   QPointF(std::floor(left) - 2.5, middle));
        grooveLine(p, QPointF(std::ceil(right) + 2.5, middle),
                   QPointF(std::ceil(right) + 6.5, middle));
    }
    const double gapLeft = duX(200 + 20);
    const double gapRight = duX(240);
    const double gapMiddle = (gapLeft + gapRight) / 2;
    engravedSign(p, sharpSign(QPointF(gapMiddle, sliderTop + 14)));
    engravedText(p, QRectF(gapLeft, middle - 9, gapRight - gapLeft, 18), Qt::AlignCenter,
                 QStringLiteral("0"), pixelFont("DejaVu Sans", 11, QFont::Bold));
    engravedSign(p, flatSign(QPointF(gapMiddle, sliderTop + sliderHeight - 14)));

    // The four command bars stand on a rail; the Power button sits in a round well.
    groove(p, QRectF(79.5, 265.5, 121, 148), 6);
    QPainterPath powerWell;
    powerWell.addEllipse(QPointF(kPowerLeft + kPowerSize / 2.0, kPowerTop + kPowerSize / 2.0), 32.5,
                         32.5);
    sunkenWell(p, powerWell, QColor(120, 120, 120));
    return image;
}

// ---------------------------------------------------------------------------------------------
// 135 / 136: the long bar of the command buttons (caption drawn over its left part).

QImage drawBar(bool pressed) {
    QImage image = newImage(kBarWidth, kBarHeight, kPanel);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(1.5, 1.5, kBarWidth - 3.5, kBarHeight - 4.5);
    const double radius = body.height() / 2;
    const QRectF face = pressed ? body.translated(0.5, 1.0) : body;

    // Shadow on the panel.
    p.setPen(Qt::NoPen);
    if (!pressed) {
        p.setBrush(QColor(0, 0, 0, 50));
        p.drawRoundedRect(body.translated(1.0, 2.0), radius, radius);
        p.setBrush(QColor(0, 0, 0, 40));
        p.drawRoundedRect(body.translated(0.5, 1.2), radius, radius);
    } else {
        p.setBrush(QColor(0, 0, 0, 35));
        p.drawRoundedRect(body.translated(0.2, 0.4), radius, radius);
    }

    // Face.
    QLinearGradient fill(0, face.top(), 0, face.bottom());
    if (!pressed) {
        fill.setColorAt(0.0, QColor(250, 251, 244));
        fill.setColorAt(0.45, QColor(232, 235, 223));
        fill.setColorAt(1.0, QColor(196, 200, 186));
    } else {
        fill.setColorAt(0.0, QColor(176, 181, 168));
        fill.setColorAt(0.35, QColor(200, 205, 191));
        fill.setColorAt(1.0, QColor(218, 222, 208));
    }
    p.setBrush(fill);
    p.setPen(QPen(QColor(84, 90, 82), 1.0));
    p.drawRoundedRect(face, radius, radius);

    // A lit line along the upper edge, or a shadow inside when pressed in.
    p.setBrush(Qt::NoBrush);
    if (!pressed) {
        p.setPen(QPen(QColor(255, 255, 255, 200), 1.0));
        p.drawRoundedRect(face.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    } else {
        p.save();
        QPainterPath clip;
        clip.addRoundedRect(face, radius, radius);
        p.setClipPath(clip);
        for (int i = 0; i < 3; ++i) {
            p.setPen(QPen(QColor(0, 0, 0, 60 - 18 * i), 1.0));
            p.drawRoundedRect(face.translated(0.0, 1.0 + i), radius, radius);
        }
        p.restore();
    }

    // An indicator lamp near the right end: dark at rest, green while the button is held.
    const QPointF lamp(face.right() - radius + 0.5, face.center().y());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 124, 114));
    p.drawEllipse(lamp + QPointF(0, -0.6), 5.6, 5.6);
    p.setBrush(QColor(250, 252, 246));
    p.drawEllipse(lamp + QPointF(0, 0.6), 5.6, 5.6);
    QRadialGradient glass(lamp - QPointF(1.3, 1.5), 5.5);
    if (pressed) {
        glass.setColorAt(0.0, QColor(236, 255, 222));
        glass.setColorAt(0.35, QColor(96, 232, 84));
        glass.setColorAt(1.0, QColor(24, 140, 30));
    } else {
        glass.setColorAt(0.0, QColor(150, 172, 146));
        glass.setColorAt(0.4, QColor(64, 92, 62));
        glass.setColorAt(1.0, QColor(28, 44, 28));
    }
    p.setBrush(glass);
    p.drawEllipse(lamp, 4.6, 4.6);
    if (pressed) {
        QRadialGradient halo(lamp, 9.0);
        halo.setColorAt(0.0, QColor(120, 255, 110, 90));
        halo.setColorAt(1.0, QColor(120, 255, 110, 0));
        p.setBrush(halo);
        p.drawEllipse(lamp, 9.0, 9.0);
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// 132 / 133: the round Power button.

void powerSymbol(QPainter& p, QPointF c, double r, const QPen& pen) {
    p.save();
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - r, c.y() - r, 2 * r, 2 * r);
    p.drawArc(ring, 120 * 16, 300 * 16);
    p.drawLine(QPointF(c.x(), c.y() - r - 1.2), QPointF(c.x(), c.y() + 0.2));
    p.restore();
}

// The button stands in the round well of the panel; its corners show the panel beneath it.
QImage drawPower(bool pressed, const QImage& panel) {
    QImage image = panel.copy(kPowerLeft, kPowerTop, kPowerSize, kPowerSize)
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QPointF c(30, 30);

    // Outer ring of dark metal.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawEllipse(c + QPointF(0.6, 1.2), 29.0, 29.0);
    QLinearGradient ring(0, 1, 0, 59);
    ring.setColorAt(0.0, QColor(120, 124, 128));
    ring.setColorAt(0.5, QColor(62, 66, 70));
    ring.setColorAt(1.0, QColor(34, 36, 40));
    p.setBrush(ring);
    p.setPen(QPen(QColor(26, 28, 30), 1.0));
    p.drawEllipse(c, 28.5, 28.5);
    QLinearGradient bevel(0, 5, 0, 55);
    bevel.setColorAt(0.0, QColor(30, 32, 36));
    bevel.setColorAt(1.0, QColor(150, 154, 158));
    p.setBrush(bevel);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 24.5, 24.5);

    // The cap: convex and light at rest, pushed in and shaded when pressed.
    const QPointF capCentre = pressed ? c + QPointF(0, 0.8) : c;
    const double capRadius = pressed ? 22.6 : 23.0;
    QRadialGradient cap(capCentre + (pressed ? QPointF(2, 4) : QPointF(-5, -7)), 30);
    if (!pressed) {
        cap.setColorAt(0.0, QColor(252, 252, 248));
        cap.setColorAt(0.55, QColor(220, 222, 214));
        cap.setColorAt(1.0, QColor(170, 174, 166));
    } else {
        cap.setColorAt(0.0, QColor(222, 228, 236));
        cap.setColorAt(0.6, QColor(184, 192, 202));
        cap.setColorAt(1.0, QColor(138, 146, 158));
    }
    p.setBrush(cap);
    p.setPen(QPen(QColor(70, 74, 78), 1.0));
    p.drawEllipse(capCentre, capRadius, capRadius);
    if (pressed) {
        QRadialGradient glow(capCentre, capRadius);
        glow.setColorAt(0.0, QColor(90, 150, 255, 70));
        glow.setColorAt(1.0, QColor(90, 150, 255, 0));
        p.setBrush(glow);
        p.setPen(Qt::NoPen);
        p.drawEllipse(capCentre, capRadius, capRadius);
    } else {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 170), 1.2));
        p.drawArc(QRectF(capCentre.x() - 21, capCentre.y() - 21, 42, 42), 35 * 16, 110 * 16);
    }

    // The symbol and the word.
    const QColor ink = pressed ? QColor(10, 70, 215) : QColor(52, 56, 60);
    powerSymbol(p, capCentre + QPointF(0, -7.5), 5.6, QPen(ink, 2.0, Qt::SolidLine, Qt::RoundCap));
    const QFont word = pixelFont("DejaVu Sans", 10, QFont::Bold);
    const QRectF wordBox(capCentre.x() - 22, capCentre.y() + 1, 44, 15);
    p.setFont(word);
    p.setPen(pressed ? QColor(255, 255, 255, 110) : QColor(255, 255, 255, 150));
    p.drawText(wordBox.translated(0, 0.8), Qt::AlignCenter, QStringLiteral("Power"));
    p.setPen(ink);
    p.drawText(wordBox, Qt::AlignCenter, QStringLiteral("Power"));
    return image;
}

// ---------------------------------------------------------------------------------------------
// 138 / 139 / 140 / 141: piano keys. The caption ("  C#") is drawn over the upper left part,
// so that part stays light on every face.

struct KeyLook {
    QColor top;     // body colour at the top
    QColor bottom;  // body colour above the front lip
    QColor edge;    // outline
    QColor plate;   // the caption plate (black keys) or none (white keys: the body is light)
    bool hasPlate;
    bool lit;
    QColor glow;  // colour of the light of a lit key
};

QImage drawKey(const KeyLook& look) {
    QImage image = newImage(kKeyWidth, kKeyHeight, kKeybed);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, -3.0, kKeyWidth - 1.0, kKeyHeight + 2.5);  // square top, round front
    const double radius = 3.5;

    QPainterPath shape;
    shape.addRoundedRect(body, radius, radius);

    QLinearGradient fill(0, 0, 0, kKeyHeight - 8);
    fill.setColorAt(0.0, look.top);
    fill.setColorAt(1.0, look.bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(shape);

    p.save();
    p.setClipPath(shape);
    // Rounded sides: shade near the left and right edges.
    QLinearGradient sides(0, 0, kKeyWidth, 0);
    sides.setColorAt(0.0, QColor(0, 0, 0, 46));
    sides.setColorAt(0.09, QColor(0, 0, 0, 0));
    sides.setColorAt(0.88, QColor(0, 0, 0, 0));
    sides.setColorAt(1.0, QColor(0, 0, 0, 56));
    p.fillRect(image.rect(), sides);
    if (look.lit) {
        QRadialGradient light(QPointF(kKeyWidth / 2.0, kKeyHeight * 0.55), kKeyHeight * 0.55);
        light.setColorAt(0.0, withAlpha(look.glow, 150));
        light.setColorAt(1.0, withAlpha(look.glow, 0));
        p.fillRect(image.rect(), light);
    }
    // The front lip of the key.
    const double lipTop = kKeyHeight - 8.5;
    QLinearGradient lip(0, lipTop, 0, kKeyHeight);
    lip.setColorAt(0.0, mix(look.bottom, Qt::black, 0.10));
    lip.setColorAt(1.0, mix(look.bottom, Qt::black, 0.32));
    p.fillRect(QRectF(0, lipTop, kKeyWidth, kKeyHeight - lipTop), lip);
    p.setPen(QPen(mix(look.bottom, Qt::white, 0.55), 1.0));
    p.drawLine(QPointF(1.5, lipTop + 0.5), QPointF(kKeyWidth - 1.5, lipTop + 0.5));
    p.restore();

    // The caption plate of the dark keys: a light, slightly sunk label.
    if (look.hasPlate) {
        const QRectF plate(3.5, 4.5, kKeyWidth - 7.0, 21.0);
        p.setPen(Qt::NoPen);
        p.setBrush(mix(look.bottom, Qt::white, 0.35));
        p.drawRoundedRect(plate.translated(0.6, 0.8), 3, 3);
        p.setBrush(mix(look.top, Qt::black, 0.45));
        p.drawRoundedRect(plate.translated(-0.5, -0.6), 3, 3);
        QLinearGradient plateFill(0, plate.top(), 0, plate.bottom());
        plateFill.setColorAt(0.0, mix(look.plate, Qt::black, 0.06));
        plateFill.setColorAt(1.0, look.plate);
        p.setBrush(plateFill);
        p.drawRoundedRect(plate, 3, 3);
    }

    // Outline and a lit line down the left side.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(look.edge, 1.0));
    p.drawPath(shape);
    p.setPen(QPen(withAlpha(Qt::white, look.hasPlate ? 70 : 150), 1.0));
    p.drawLine(QPointF(1.5, 0), QPointF(1.5, kKeyHeight - 10));
    return image;
}

QImage drawWhiteKey(bool lit) {
    if (lit) {  // pale yellow, lit from within
        return drawKey({QColor(255, 252, 214), QColor(250, 236, 160), QColor(150, 132, 60),
                        QColor(), false, true, QColor(255, 255, 236)});
    }
    // pale yellow-green
    return drawKey({QColor(226, 236, 204), QColor(200, 214, 172), QColor(104, 116, 88), QColor(),
                    false, false, QColor()});
}

QImage drawBlackKey(bool lit) {
    if (lit) {  // bright teal
        return drawKey({QColor(46, 222, 208), QColor(0, 168, 160), QColor(0, 84, 80),
                        QColor(196, 250, 244), true, true, QColor(150, 255, 245)});
    }
    // grey-blue
    return drawKey({QColor(120, 134, 156), QColor(80, 92, 112), QColor(30, 36, 46),
                    QColor(194, 204, 220), true, false, QColor()});
}

// ---------------------------------------------------------------------------------------------
// The motif shared by the logo and the icon: a brass tuning fork, and a thread of sound woven
// through five warp threads that are also the lines of a staff.

void tuningFork(QPainter& p, const QRectF& box) {
    // box: the fork's extent. Two tines joined by a round yoke, and a stem below it.
    p.save();
    const double w = box.width();
    const double tine = w * 0.26;
    const double halfSpan = (w - tine) / 2;  // from the middle to a tine's centre line
    const double cx = box.center().x();
    const double joint = box.top() + box.height() * 0.58;

    QPainterPath u;
    u.moveTo(cx - halfSpan, box.top());
    u.lineTo(cx - halfSpan, joint);
    u.arcTo(QRectF(cx - halfSpan, joint - halfSpan, 2 * halfSpan, 2 * halfSpan), 180, 180);
    u.lineTo(cx + halfSpan, box.top());
    QPainterPathStroker tines;
    tines.setWidth(tine);
    tines.setCapStyle(Qt::FlatCap);
    tines.setJoinStyle(Qt::RoundJoin);

    const double stemWidth = w * 0.24;
    QPainterPath stemLine;
    stemLine.moveTo(cx, joint + halfSpan - 1);
    stemLine.lineTo(cx, box.bottom() - stemWidth / 2);
    QPainterPathStroker stem;
    stem.setWidth(stemWidth);
    stem.setCapStyle(Qt::RoundCap);

    const QPainterPath fork =
        tines.createStroke(u).united(stem.createStroke(stemLine)).simplified();

    QLinearGradient brass(box.left(), 0, box.right(), 0);
    brass.setColorAt(0.0, QColor(150, 112, 40));
    brass.setColorAt(0.3, QColor(246, 214, 130));
    brass.setColorAt(0.55, QColor(214, 168, 70));
    brass.setColorAt(1.0, QColor(120, 86, 28));
    p.setPen(QPen(QColor(70, 48, 12), std::max(0.8, w / 36.0)));
    p.setBrush(brass);
    p.drawPath(fork);
    p.restore();
}

// The woven thread: a sine wave across `box` that passes over and under five horizontal warp
// threads in turn.
void wovenWave(QPainter& p, const QRectF& box, double cycles, const QColor& warp,
               const QColor& weft, double warpWidth, double weftWidth) {
    p.save();
    const int lines = 5;
    std::vector<double> ys;
    for (int i = 0; i < lines; ++i)
        ys.push_back(box.top() + box.height() * i / (lines - 1));

    auto waveY = [&](double x) {
        const double t = (x - box.left()) / box.width();
        return box.center().y() - box.height() * 0.5 * std::sin(t * cycles * 2 * std::numbers::pi);
    };

    // The warp threads.
    p.setPen(QPen(warp, warpWidth, Qt::SolidLine, Qt::FlatCap));
    for (double y : ys)
        p.drawLine(QPointF(box.left(), y), QPointF(box.right(), y));

    // The weft.
    QPainterPath wave;
    const int steps = 240;
    for (int i = 0; i <= steps; ++i) {
        const double x = box.left() + box.width() * i / steps;
        if (i == 0)
            wave.moveTo(x, waveY(x));
        else
            wave.lineTo(x, waveY(x));
    }
    p.setPen(QPen(mix(weft, Qt::black, 0.55), weftWidth + 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(wave);
    p.setPen(QPen(weft, weftWidth, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(wave);

    // Where the weft crosses a warp thread, every other crossing lies under the warp: draw a
    // short piece of the warp again over the weft there.
    int crossing = 0;
    double previous = waveY(box.left());
    for (int i = 1; i <= steps * 4; ++i) {
        const double x = box.left() + box.width() * i / (steps * 4);
        const double y = waveY(x);
        for (double line : ys) {
            if ((previous - line) * (y - line) <= 0 && previous != y) {
                if (crossing++ % 2 == 1) {
                    const double half = weftWidth * 1.6 + 1.0;
                    p.setPen(QPen(mix(warp, Qt::black, 0.5), warpWidth + 1.2, Qt::SolidLine,
                                  Qt::FlatCap));
                    p.drawLine(QPointF(x - half, line), QPointF(x + half, line));
                    p.setPen(QPen(warp, warpWidth, Qt::SolidLine, Qt::FlatCap));
                    p.drawLine(QPointF(x - half - 0.5, line), QPointF(x + half + 0.5, line));
                }
            }
        }
        previous = y;
    }
    p.restore();
}

// A dark, rounded plate with a soft sheen, the ground of the logo and the icon.
void darkPlate(QPainter& p, const QRectF& r, double radius) {
    p.save();
    QLinearGradient ground(0, r.top(), 0, r.bottom());
    ground.setColorAt(0.0, QColor(34, 62, 70));
    ground.setColorAt(1.0, QColor(14, 28, 34));
    p.setPen(QPen(QColor(10, 18, 22), 1.0));
    p.setBrush(ground);
    p.drawRoundedRect(r, radius, radius);
    QPainterPath clip;
    clip.addRoundedRect(r, radius, radius);
    p.setClipPath(clip);
    QRadialGradient sheen(QPointF(r.left() + r.width() * 0.3, r.top()), r.width() * 0.8);
    sheen.setColorAt(0.0, QColor(120, 190, 190, 46));
    sheen.setColorAt(1.0, QColor(120, 190, 190, 0));
    p.fillRect(r, sheen);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    p.restore();
}

const QColor kWarp(170, 150, 104);
const QColor kWeft(64, 214, 198);

// ---------------------------------------------------------------------------------------------
// 130: the logo.

QImage drawLogo() {
    QImage image = newImage(kLogoWidth, kLogoHeight, kPanel);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    darkPlate(p, QRectF(0.5, 0.5, kLogoWidth - 1.0, kLogoHeight - 1.0), 7);
    tuningFork(p, QRectF(12, 12, 24, 76));

    // The name, as large as fits between the fork and the right edge.
    const QString title = QStringLiteral("Pitchloom");
    const QRectF nameBox(45, 8, 146, 38);
    int namePixels = 30;
    while (
        namePixels > 12 &&
        QFontMetricsF(pixelFont("DejaVu Serif", namePixels, QFont::Bold)).horizontalAdvance(title) >
            nameBox.width())
        --namePixels;
    const QFont name = pixelFont("DejaVu Serif", namePixels, QFont::Bold);
    p.setFont(name);
    p.setPen(QColor(0, 0, 0, 150));
    p.drawText(nameBox.translated(1, 1.5), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setPen(QColor(244, 238, 216));
    p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter, title);

    QFont pro = pixelFont("DejaVu Sans", 11, QFont::Bold);
    pro.setLetterSpacing(QFont::AbsoluteSpacing, 3.0);
    const QFontMetricsF nameMetrics(name);
    const double nameRight = nameBox.left() + nameMetrics.horizontalAdvance(title);
    p.setFont(pro);
    const QRectF proBox(nameRight - 60, 44, 60, 14);
    p.setPen(kWeft);
    p.drawText(proBox, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("PRO"));

    wovenWave(p, QRectF(47, 66, nameRight - 47, 20), 2.0, kWarp, kWeft, 1.2, 2.6);
    return image;
}

// ---------------------------------------------------------------------------------------------
// The program icon (with transparency), drawn on a 128 x 128 design grid and scaled.

QImage drawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);
    const bool small = size <= 48;

    // Soft shadow under the plate.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(QColor(0, 0, 0, 22));
        p.drawRoundedRect(QRectF(8 - i * 0.5, 10 + i * 0.5, 112 + i, 112 + i), 22, 22);
    }
    const QRectF plate(8, 6, 112, 112);
    darkPlate(p, plate, 20);

    // Faint warp threads, a staff of five lines (left out where they would blur together).
    if (!small) {
        p.setPen(QPen(withAlpha(kWarp, 120), 1.4, Qt::SolidLine, Qt::FlatCap));
        for (int i = 0; i < 5; ++i)
            p.drawLine(QPointF(18, 42 + 8 * i), QPointF(110, 42 + 8 * i));
    }

    // The thread of sound: a wave that passes under the right tine and over the left one.
    QPainterPath wave;
    const double left = 17;
    const double right = 111;
    const double middle = 58;
    const double amplitude = 15;
    for (int i = 0; i <= 200; ++i) {
        const double x = left + (right - left) * i / 200.0;
        const double y =
            middle - amplitude * std::sin((x - left) / (right - left) * 3 * std::numbers::pi);
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    const double weftWidth = small ? 7.5 : 6.0;
    auto drawWave = [&] {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(mix(kWeft, Qt::black, 0.6), weftWidth + 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(wave);
        p.setPen(QPen(kWeft, weftWidth, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(wave);
        p.setPen(QPen(QColor(220, 255, 250, 120), weftWidth * 0.3, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(wave.translated(-0.4, -weftWidth * 0.22));
    };
    drawWave();
    const QRectF fork(48, 15, 32, 96);
    tuningFork(p, fork);
    p.save();
    p.setClipRect(QRectF(fork.left() - 2, 0, fork.width() * 0.45, 128));
    drawWave();
    p.restore();
    return image;
}

// ---------------------------------------------------------------------------------------------
// The preview: the window face as the program paints it, with stand-ins for the standard
// controls. Only for looking at; the program itself never uses it.

void drawCaption(QPainter& p, const QString& text) {
    p.setPen(kCaption);
    p.setFont(QFont());
    p.drawText(QRect(2, 2, 208, 26), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

QImage face(const QImage& bitmap, int width, int height, const QString& caption) {
    QImage image = newImage(width, height, Qt::white);
    QPainter p(&image);
    p.drawImage(0, 0, bitmap);
    drawCaption(p, caption);
    return image;
}

QImage drawPreview(const QImage& panel, const QImage& logo, const QImage& power,
                   const QImage& barNormal, const QImage& barPressed, const QImage& whiteUnlit,
                   const QImage& whiteLit, const QImage& blackUnlit, const QImage& blackLit) {
    QImage image = panel.copy();
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.drawImage(QPoint(kPowerLeft, kPowerTop), face(power, kPowerSize, kPowerSize, QString()));
    struct Bar {
        int left, top;
        const char* caption;
        bool pressed;
    };
    const Bar bars[] = {{82, 377, "      Help", false}, {82, 334, "     Type", false},
                        {82, 300, "     Save", false},  {82, 270, "     Load", false},
                        {470, 25, "     Play", false},  {470, 60, "     Convert", true}};
    for (const Bar& b : bars)
        p.drawImage(QPoint(b.left, b.top), face(b.pressed ? barPressed : barNormal, kBarWidth,
                                                kBarHeight, QString::fromLatin1(b.caption)));

    const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const bool black[] = {false, true,  false, true,  false, false,
                          true,  false, true,  false, true,  false};
    const bool lit[] = {true,  false, true, false, true,  false,
                        false, true,  true, true,  false, true};
    int white = 0;
    int dark = 0;
    for (int i = 0; i < 12; ++i) {
        const QString caption = QStringLiteral("  ") + QString::fromLatin1(names[i]);
        QPoint at;
        const QImage* bitmap;
        if (black[i]) {
            at = QPoint(kBlackKeyLefts[dark++], kBlackKeyTop);
            bitmap = lit[i] ? &blackLit : &blackUnlit;
        } else {
            at = QPoint(kWhiteKeyLefts[white++], kWhiteKeyTop);
            bitmap = lit[i] ? &whiteLit : &whiteUnlit;
        }
        p.drawImage(at, face(*bitmap, kKeyWidth, kKeyHeight, caption));
    }

    // Stand-ins for the standard controls, at their template rectangles (the two long labels
    // with texts of about the window's length).
    auto rect = [](double x, double y, double w, double h) {
        return QRectF(duX(x), duY(y), duX(w), duY(h)).toRect();
    };
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect(7, 7, 114, 67), logo);  // the logo picture shows bitmap 130 scaled to fit
    p.setPen(kLabelText);
    p.setFont(QFont());
    struct Label {
        double x, y, w, h;
        const char* text;
    };
    const Label labels[] = {{10, 95, 35, 15, "Device"},
                            {10, 115, 35, 15, "Key"},
                            {10, 135, 35, 15, "Scale"},
                            {10, 155, 35, 15, "Tuning"},
                            {10, 181, 35, 35, "Setting"},
                            {10, 225, 35, 15, "Midi"},
                            {131, 18, 130, 19, "Play file with the chosen scale and tuning."},
                            {131, 40, 130, 20, "Add the chosen scale and tuning to file."}};
    for (const Label& l : labels)
        p.drawText(rect(l.x, l.y, l.w, l.h), Qt::AlignCenter, QString::fromLatin1(l.text));
    const char* lists[] = {"MIDI MAPPER", "C", "Chromatic", "Just Intonation"};
    for (int i = 0; i < 4; ++i) {
        const QRect box = rect(45, 95 + 20 * i, 60, 14);
        p.setPen(QColor(90, 90, 90));
        p.setBrush(QColor(246, 246, 246));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        p.drawText(box.adjusted(4, 0, -14, 0), Qt::AlignVCenter, QString::fromLatin1(lists[i]));
        p.drawText(box.adjusted(0, 0, -3, 0), Qt::AlignVCenter | Qt::AlignRight,
                   QString(QChar(0x25BE)));
    }
    const int offsets[] = {0, -8, 4, 16, -14, -2, -10, 2, -6, 6, 18, -12};
    for (int i = 0; i < 12; ++i) {
        const QRect box = rect(kColumnUnits[i], 188, 20, 13);
        p.setPen(QColor(90, 90, 90));
        p.setBrush(Qt::white);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignCenter, QString::number(offsets[i]));
        const QRect bar = rect(kColumnUnits[i] + 5, 207, 10, 74);
        p.setPen(QColor(110, 110, 110));
        p.setBrush(QColor(214, 214, 214));
        p.drawRect(bar.adjusted(0, 0, -1, -1));
        const double travel = bar.height() - 2 * 16 - 18;
        const double thumbTop = bar.top() + 16 + (offsets[i] * -1 + 50) / 100.0 * travel;
        p.setBrush(QColor(236, 236, 236));
        p.drawRect(QRectF(bar.left() + 1, thumbTop, bar.width() - 3, 18));
    }
    return image;
}

// ---------------------------------------------------------------------------------------------

bool save24(const QImage& image, const QString& path) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (!rgb.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool saveWithAlpha(const QImage& image, const QString& path) {
    if (!image.convertToFormat(QImage::Format_RGBA8888).save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts need the application object

    QString outDir;
    QString previewPath;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--preview") && i + 1 < args.size()) {
            previewPath = args[++i];
        } else if (!args[i].startsWith(QLatin1String("--")) && outDir.isEmpty()) {
            outDir = args[i];
        } else {
            outDir.clear();
            break;
        }
    }
    if (outDir.isEmpty()) {
        std::fprintf(stderr, "usage: pitchloom_make_artwork RESOURCES_DIR [--preview FILE.png]\n");
        return 2;
    }

    const QDir root(outDir);
    if (!root.mkpath(QStringLiteral("bitmaps")) || !root.mkpath(QStringLiteral("icons"))) {
        std::fprintf(stderr, "cannot create the folders under %s\n", qPrintable(outDir));
        return 1;
    }
    auto bitmap = [&](int id) { return root.filePath(QStringLiteral("bitmaps/%1.png").arg(id)); };

    const QImage logo = drawLogo();
    const QImage panel = drawPanel();
    const QImage powerNormal = drawPower(false, panel);
    const QImage powerPressed = drawPower(true, panel);
    const QImage barPressed = drawBar(true);
    const QImage barNormal = drawBar(false);
    const QImage blackUnlit = drawBlackKey(false);
    const QImage whiteLit = drawWhiteKey(true);
    const QImage whiteUnlit = drawWhiteKey(false);
    const QImage blackLit = drawBlackKey(true);

    bool ok = save24(logo, bitmap(130)) && save24(panel, bitmap(131)) &&
              save24(powerNormal, bitmap(132)) && save24(powerPressed, bitmap(133)) &&
              save24(barPressed, bitmap(135)) && save24(barNormal, bitmap(136)) &&
              save24(blackUnlit, bitmap(138)) && save24(whiteLit, bitmap(139)) &&
              save24(whiteUnlit, bitmap(140)) && save24(blackLit, bitmap(141));

    const QImage icon128 = drawIcon(128);
    ok = ok && saveWithAlpha(icon128, root.filePath(QStringLiteral("icons/pitchloom.png"))) &&
         saveWithAlpha(icon128, root.filePath(QStringLiteral("icons/pitchloom-128.png"))) &&
         saveWithAlpha(drawIcon(48), root.filePath(QStringLiteral("icons/pitchloom-48.png"))) &&
         saveWithAlpha(drawIcon(256), root.filePath(QStringLiteral("icons/pitchloom-256.png")));

    if (ok && !previewPath.isEmpty()) {
        ok = save24(drawPreview(panel, logo, powerNormal, barNormal, barPressed, whiteUnlit,
                                whiteLit, blackUnlit, blackLit),
                    previewPath);
    }
    return ok ? 0 : 1;
}
