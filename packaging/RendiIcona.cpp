// Build tool: renders an SVG icon as square PNGs for the hicolor icon theme.
//
//   RendiIcona SORGENTE.svg DESTINAZIONE.png LATO [DESTINAZIONE.png LATO ...]
//
// It draws straight into a QImage, with no QGuiApplication, so it needs no
// display and no platform plugin: it runs the same in a headless build.

#include <QFileInfo>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "RendiIcona: %s\n", qPrintable(message));
    return 1;
}

QImage render(QSvgRenderer& svg, int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Keep the picture's proportions and centre it, so a picture that is not
    // square is not stretched.
    QSizeF size = svg.defaultSize().isValid() ? QSizeF(svg.defaultSize()) : QSizeF(svg.viewBoxF().size());
    size.scale(side, side, Qt::KeepAspectRatio);
    const QRectF target((side - size.width()) / 2, (side - size.height()) / 2, size.width(), size.height());
    svg.render(&painter, target);
    painter.end();
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (argc - 2) % 2 != 0)
        return fail(QStringLiteral("uso: RendiIcona SORGENTE.svg DESTINAZIONE.png LATO [DESTINAZIONE.png LATO ...]"));

    const QString source = QString::fromLocal8Bit(argv[1]);
    QSvgRenderer svg(source);
    if (!svg.isValid())
        return fail(QStringLiteral("impossibile leggere l'immagine SVG %1").arg(source));

    for (int i = 2; i + 1 < argc; i += 2) {
        const QString target = QString::fromLocal8Bit(argv[i]);
        bool ok = false;
        const int side = QString::fromLocal8Bit(argv[i + 1]).toInt(&ok);
        if (!ok || side < 1 || side > 4096)
            return fail(QStringLiteral("lato non valido: %1").arg(QString::fromLocal8Bit(argv[i + 1])));

        if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            return fail(QStringLiteral("impossibile creare la cartella di %1").arg(target));
        // Written through a temporary file, so an interrupted build never
        // leaves a truncated PNG that looks up to date.
        QSaveFile file(target);
        if (!file.open(QIODevice::WriteOnly) || !render(svg, side).save(&file, "PNG") || !file.commit())
            return fail(QStringLiteral("impossibile scrivere %1").arg(target));
    }
    return 0;
}
