#include "riproduttore/SoundFont.h"

#include <QFile>
#include <QFileInfo>

namespace sonora {

const QStringList& knownSoundFontPaths()
{
    static const QStringList paths{
        // fluid-soundfont-gm
        QStringLiteral("/usr/share/sounds/sf2/FluidR3_GM.sf2"),
        QStringLiteral("/usr/share/soundfonts/FluidR3_GM.sf2"),
        // musescore-general-soundfont(-small): compressed first, it is the one Debian ships
        QStringLiteral("/usr/share/sounds/sf3/MuseScore_General.sf3"),
        QStringLiteral("/usr/share/sounds/sf2/MuseScore_General.sf3"),
        QStringLiteral("/usr/share/sounds/sf2/MuseScore_General.sf2"),
        QStringLiteral("/usr/share/soundfonts/MuseScore_General.sf3"),
        QStringLiteral("/usr/share/soundfonts/MuseScore_General.sf2"),
        // timgm6mb-soundfont
        QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2"),
        QStringLiteral("/usr/share/soundfonts/TimGM6mb.sf2"),
        // whatever the system's alternatives point at
        QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2"),
        QStringLiteral("/usr/share/sounds/sf3/default-GM.sf3"),
        QStringLiteral("/usr/share/soundfonts/default.sf2"),
    };
    return paths;
}

namespace {

bool isSoundFont(const QString& path)
{
    const QFileInfo info(path); // follows symbolic links, so a dangling one fails
    if (!info.isFile() || info.size() < 12)
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(12);
    return head.size() == 12 && head.startsWith("RIFF") && head.mid(8, 4) == "sfbk";
}

} // namespace

QString chooseSoundFont(const QStringList& candidates)
{
    for (const QString& path : candidates) {
        if (isSoundFont(path))
            return path;
    }
    return {};
}

QString defaultSoundFont()
{
    static const QString chosen = chooseSoundFont(knownSoundFontPaths());
    return chosen;
}

QString soundFontPackages()
{
    return QStringLiteral("fluid-soundfont-gm oppure timgm6mb-soundfont");
}

} // namespace sonora
