// Draws Halvoric's pictures: the eight release icons, the maker's logo for the
// About window and the application icon for the desktop entry. Everything is
// drawn here from plain shapes and text, so the committed files can always be
// made again from this source.
//
//   halvoric_art_generator <output folder>

#include <QColor>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The one family used for every text: its bold face ships with Debian's
// fonts-noto-cjk, which the application needs anyway for its Japanese texts.
const QString kFamily = QStringLiteral("Noto Sans CJK JP");

struct Release {
    const char* file;
    const char* label;
    QColor fill;
    QColor ink;
};

// One clearly different hue per release; CS6 is light, so it takes dark ink.
const std::vector<Release>& Releases() {
    static const std::vector<Release> releases = {
        {"cs.tif", "CS", QColor(0x00, 0x89, 0x7b), Qt::white},
        {"cs2.tif", "CS2", QColor(0x1e, 0x63, 0xc6), Qt::white},
        {"cs3.tif", "CS3", QColor(0x6a, 0x3d, 0xb8), Qt::white},
        {"cs4.tif", "CS4", QColor(0x2e, 0x8b, 0x3a), Qt::white},
        {"cs5.tif", "CS5", QColor(0xe8, 0x6a, 0x0a), Qt::white},
        {"cs55.tif", "CS5.5", QColor(0xb7, 0x1c, 0x1c), Qt::white},
        {"cs6.tif", "CS6", QColor(0xf2, 0xc0, 0x1e), QColor(0x26, 0x32, 0x38)},
    };
    return releases;
}

QFont Font(double pixelSize, int weight = QFont::Bold, double letterSpacing = 0) {
    QFont font(kFamily);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    if (letterSpacing != 0) font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

// The largest font, up to `maxSize` pixels, whose tight bounds of `text` fit
// `width` x `height`.
QFont FittingFont(const QString& text, double width, double height, double maxSize,
                  int weight = QFont::Bold, double letterSpacing = 0) {
    for (double size = maxSize; size > 4; size -= 0.5) {
        const QFont font = Font(size, weight, letterSpacing);
        const QRectF bounds = QFontMetricsF(font).tightBoundingRect(text);
        if (bounds.width() <= width && bounds.height() <= height) return font;
    }
    return Font(4, weight);
}

// Draws `text` with its tight bounds centred on `centre`.
void DrawCentred(QPainter& painter, const QString& text, const QFont& font, QPointF centre,
                 const QColor& ink) {
    const QRectF bounds = QFontMetricsF(font).tightBoundingRect(text);
    const QPointF origin(centre.x() - bounds.width() / 2 - bounds.left(),
                         centre.y() - bounds.height() / 2 - bounds.top());
    QPainterPath path;
    path.addText(origin, font, text);
    painter.fillPath(path, ink);
}

QImage Blank(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDotsPerMeterX(2835);  // 72 dpi
    image.setDotsPerMeterY(2835);
    return image;
}

// A page with its top-right corner folded over: the shape every icon shares.
QPainterPath PageShape(const QRectF& page, double fold) {
    const double r = 5;
    QPainterPath path;
    path.moveTo(page.left() + r, page.top());
    path.lineTo(page.right() - fold, page.top());
    path.lineTo(page.right(), page.top() + fold);
    path.lineTo(page.right(), page.bottom() - r);
    path.quadTo(page.right(), page.bottom(), page.right() - r, page.bottom());
    path.lineTo(page.left() + r, page.bottom());
    path.quadTo(page.left(), page.bottom(), page.left(), page.bottom() - r);
    path.lineTo(page.left(), page.top() + r);
    path.quadTo(page.left(), page.top(), page.left() + r, page.top());
    path.closeSubpath();
    return path;
}

QPainterPath FoldShape(const QRectF& page, double fold) {
    QPainterPath path;
    path.moveTo(page.right() - fold, page.top());
    path.lineTo(page.right() - fold, page.top() + fold - 3);
    path.quadTo(page.right() - fold, page.top() + fold, page.right() - fold + 3, page.top() + fold);
    path.lineTo(page.right(), page.top() + fold);
    path.closeSubpath();
    return path;
}

// A release icon: a coloured page with the release's label in large type.
QImage ReleaseIcon(const QString& label, const QColor& fill, const QColor& ink) {
    QImage image = Blank(64, 64);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF page(2, 2, 60, 60);
    const double fold = 14;
    painter.fillPath(PageShape(page, fold), fill);
    painter.fillPath(FoldShape(page, fold), fill.lighter(145));
    // A thin rule under the label, in the ink colour.
    painter.fillRect(QRectF(12, 49, 40, 3), ink);
    // Long labels ("CS5.5") close up a little so they stay large.
    const QFont font = label.size() > 3 ? FittingFont(label, 56, 24, 30, QFont::Bold, -1.2)
                                        : FittingFont(label, 52, 24, 30);
    DrawCentred(painter, label, font, QPointF(32, 33), ink);
    return image;
}

// The icon for a release the program does not know: grey, dashed, a big "?".
QImage UnknownIcon() {
    QImage image = Blank(64, 64);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF page(2, 2, 60, 60);
    const double fold = 14;
    const QColor fill(0x9e, 0x9e, 0x9e);
    painter.fillPath(PageShape(page, fold), fill);
    painter.fillPath(FoldShape(page, fold), fill.lighter(130));
    QPen dashed(QColor(0x61, 0x61, 0x61), 2, Qt::DashLine);
    painter.setPen(dashed);
    painter.drawPath(PageShape(page.adjusted(5, 5, -5, -5), fold - 5));
    painter.setPen(Qt::NoPen);
    DrawCentred(painter, QStringLiteral("?"), FittingFont(QStringLiteral("?"), 40, 40, 60),
                QPointF(31, 33), Qt::white);
    return image;
}

// The mark shared by the logo and the application icon: a page whose lines
// are the release colours.
void DrawMark(QPainter& painter, const QRectF& page, const QColor& paper) {
    const double fold = page.width() * 0.28;
    painter.fillPath(PageShape(page, fold), paper);
    painter.fillPath(FoldShape(page, fold), paper.darker(118));
    const auto& releases = Releases();
    const double left = page.left() + page.width() * 0.16;
    const double usable = page.height() * 0.62;
    const double top = page.top() + page.height() * 0.30;
    const double step = usable / releases.size();
    for (std::size_t i = 0; i < releases.size(); ++i) {
        const double width = page.width() * (i % 3 == 2 ? 0.46 : 0.68);
        painter.fillRect(QRectF(left, top + i * step, width, step * 0.62), releases[i].fill);
    }
}

// The maker's logo for the About window: the mark and the product name on a
// light card of its own, so it reads on light and dark window backgrounds.
QImage Logo() {
    QImage image = Blank(170, 65);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xcf, 0xd6, 0xdb), 1));
    painter.setBrush(QColor(0xfa, 0xfb, 0xfc));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 169, 64), 8, 8);
    painter.setPen(Qt::NoPen);
    DrawMark(painter, QRectF(10, 8, 38, 49), QColor(0x26, 0x32, 0x38));
    const QString name = QStringLiteral("Halvoric");
    const QFont font = FittingFont(name, 104, 32, 40);
    DrawCentred(painter, name, font, QPointF(110, 32.5), QColor(0x26, 0x32, 0x38));
    return image;
}

// The application icon that the desktop shows.
QImage AppIcon() {
    QImage image = Blank(64, 64);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
    painter.fillPath(tile, QColor(0x26, 0x32, 0x38));
    DrawMark(painter, QRectF(13, 8, 38, 48), Qt::white);
    return image;
}

bool Write(const QImage& image, const QString& folder, const QString& name, const QByteArray& format) {
    QImageWriter writer(folder + QLatin1Char('/') + name, format);
    if (format == "tiff") writer.setCompression(1);  // LZW
    if (!writer.write(image)) {
        std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(name), qPrintable(writer.errorString()));
        return false;
    }
    std::printf("%s\n", qPrintable(name));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);

    const QFontInfo info(Font(20));
    if (info.family() != kFamily) {
        std::fprintf(stderr, "The font \"%s\" is missing (got \"%s\"); install fonts-noto-cjk.\n",
                     qPrintable(kFamily), qPrintable(info.family()));
        return 1;
    }
    if (!QImageWriter::supportedImageFormats().contains("tiff")) {
        std::fprintf(stderr, "Qt cannot write TIFF; install qt6-image-formats-plugins.\n");
        return 1;
    }

    bool ok = true;
    for (const Release& release : Releases()) {
        ok &= Write(ReleaseIcon(QString::fromLatin1(release.label), release.fill, release.ink), folder,
                    QString::fromLatin1(release.file), "tiff");
    }
    ok &= Write(UnknownIcon(), folder, QStringLiteral("und.tif"), "tiff");
    ok &= Write(Logo(), folder, QStringLiteral("morvel.tif"), "tiff");
    ok &= Write(AppIcon(), folder, QStringLiteral("halvoric.png"), "png");
    return ok ? 0 : 1;
}
