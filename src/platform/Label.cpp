#include "platform/Label.h"

namespace sonora {

void Label::setCaption(const QString& caption)
{
    caption_ = caption;
    QString shown;
    shown.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar c = caption.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            shown += QLatin1Char('\n');
            const QChar other = c == QLatin1Char('\r') ? QLatin1Char('\n') : QLatin1Char('\r');
            if (i + 1 < caption.size() && caption.at(i + 1) == other)
                ++i;
        } else {
            shown += c;
        }
    }
    setText(shown);
}

} // namespace sonora
