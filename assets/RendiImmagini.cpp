// Build tool: draws the program's SVG pictures at the sizes they are shown.
//
//   RendiImmagini png SORGENTE.svg DESTINAZIONE.png LATO [DESTINAZIONE.png LATO ...]
//       square PNGs, for the hicolor icon theme;
//   RendiImmagini cpp DESTINAZIONE.cpp NOME=SORGENTE.svg:MISURA[,MISURA...] [...]
//       C++ source holding the pixels (premultiplied ARGB) for the program to
//       compile in; a MISURA is a side, or WIDTHxHEIGHT.
//
// Pictures compiled in as pixels cost the program nothing to show: no SVG
// renderer to load and no parsing while its window first appears.
//
// It draws straight into a QImage, with no QGuiApplication, so it needs no
// display and no platform plugin: it runs the same in a headless build.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>
#include <functional>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "RendiImmagini: %s\n", qPrintable(message));
    return 1;
}

QImage render(QSvgRenderer& svg, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Keep the picture's proportions and centre it, so a picture drawn at
    // another shape is not stretched.
    QSizeF picture = svg.defaultSize().isValid() ? QSizeF(svg.defaultSize()) : QSizeF(svg.viewBoxF().size());
    picture.scale(size, Qt::KeepAspectRatio);
    const QRectF target((size.width() - picture.width()) / 2, (size.height() - picture.height()) / 2,
                        picture.width(), picture.height());
    svg.render(&painter, target);
    painter.end();
    return image;
}

// "16" or "125x119"; an invalid size if it is neither, or out of reason.
QSize parseSize(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    bool okW = false, okH = true;
    const int w = parts.value(0).toInt(&okW);
    const int h = parts.size() == 2 ? parts[1].toInt(&okH) : w;
    if (!okW || !okH || parts.size() > 2 || w < 1 || h < 1 || w > 4096 || h > 4096)
        return {};
    return {w, h};
}

// Written through a temporary file, so an interrupted build never leaves a
// truncated file that looks up to date.
bool save(const QString& target, const std::function<bool(QSaveFile&)>& write)
{
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    QSaveFile file(target);
    return file.open(QIODevice::WriteOnly) && write(file) && file.commit();
}

int pngs(int argc, char** argv)
{
    const QString source = QString::fromLocal8Bit(argv[2]);
    QSvgRenderer svg(source);
    if (!svg.isValid())
        return fail(QStringLiteral("impossibile leggere l'immagine SVG %1").arg(source));
    for (int i = 3; i + 1 < argc; i += 2) {
        const QString target = QString::fromLocal8Bit(argv[i]);
        const QSize size = parseSize(QString::fromLocal8Bit(argv[i + 1]));
        if (!size.isValid() || size.width() != size.height())
            return fail(QStringLiteral("lato non valido: %1").arg(QString::fromLocal8Bit(argv[i + 1])));
        if (!save(target, [&](QSaveFile& f) { return render(svg, size).save(&f, "PNG"); }))
            return fail(QStringLiteral("impossibile scrivere %1").arg(target));
    }
    return 0;
}

int source(int argc, char** argv)
{
    const QString target = QString::fromLocal8Bit(argv[2]);
    QByteArray arrays, table;
    int n = 0;
    for (int i = 3; i < argc; ++i) {
        const QString voce = QString::fromLocal8Bit(argv[i]);
        const qsizetype eq = voce.indexOf(QLatin1Char('=')), colon = voce.lastIndexOf(QLatin1Char(':'));
        if (eq < 1 || colon < eq)
            return fail(QStringLiteral("immagine non valida: %1").arg(voce));
        const QByteArray name = voce.left(eq).toUtf8();
        QSvgRenderer svg(voce.mid(eq + 1, colon - eq - 1));
        if (!svg.isValid())
            return fail(QStringLiteral("impossibile leggere l'immagine SVG %1").arg(voce.mid(eq + 1, colon - eq - 1)));
        for (const QString& s : voce.mid(colon + 1).split(QLatin1Char(','))) {
            const QSize size = parseSize(s);
            if (!size.isValid())
                return fail(QStringLiteral("misura non valida: %1").arg(s));
            const QImage image = render(svg, size);
            arrays += "const quint32 p" + QByteArray::number(n) + "[] = {";
            for (int y = 0; y < image.height(); ++y) {
                const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    arrays += (x % 8 ? " 0x" : "\n    0x") + QByteArray::number(line[x], 16).rightJustified(8, '0') + ',';
            }
            arrays += "\n};\n";
            table += "    {\"" + name + "\", " + QByteArray::number(size.width()) + ", "
                + QByteArray::number(size.height()) + ", p" + QByteArray::number(n) + "},\n";
            ++n;
        }
    }
    const QByteArray text = "// Drawn by RendiImmagini from the SVG pictures when the program was built.\n"
                            "#include \"app/Immagini.h\"\n\n"
                            "namespace sonora::immagini {\nnamespace {\n"
        + arrays + "} // namespace\n\nconst Disegno disegni[] = {\n" + table
        + "};\nconst int numeroDisegni = " + QByteArray::number(n) + ";\n\n} // namespace sonora::immagini\n";
    if (!save(target, [&](QSaveFile& f) { return f.write(text) == text.size(); }))
        return fail(QStringLiteral("impossibile scrivere %1").arg(target));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "png" && argc >= 5 && (argc - 3) % 2 == 0)
        return pngs(argc, argv);
    if (mode == "cpp" && argc >= 4)
        return source(argc, argv);
    return fail(QStringLiteral("uso: RendiImmagini png SORGENTE.svg DESTINAZIONE.png LATO [...]\n"
                               "      RendiImmagini cpp DESTINAZIONE.cpp NOME=SORGENTE.svg:MISURA[,MISURA...] [...]"));
}
