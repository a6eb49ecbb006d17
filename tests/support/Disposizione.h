#pragma once
// The main window's controls as the design places them (twips) and as they
// start: checked on every platform the window is shown on.

#include "platform/Twips.h"
#include "support/FinestraDiProva.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <ostream>
#include <vector>

namespace sonora::test {

struct Box {
    int left, top, width, height;
    bool operator==(const Box&) const = default;
};
inline Box boxOf(const QWidget* w) { return {twips::left(w), twips::top(w), twips::width(w), twips::height(w)}; }
inline std::ostream& operator<<(std::ostream& os, const Box& b)
{
    return os << '(' << b.left << ", " << b.top << ", " << b.width << ", " << b.height << ')';
}

struct ControlloAtteso {
    QWidget* control;
    Box box;
    QString text;
    bool hidden;
};

inline std::vector<ControlloAtteso> disposizioneAttesa(const FinestraDiProva& w)
{
    return {
        {w->Check2, {2040, 2880, 2415, 255}, "Disattiva test di intelligenza", false},
        {w->Command1, {1800, 720, 2775, 375}, "Test di intelligenza", true},
        {w->StatusBar1, {0, 4425, 4725, 255}, "", false},
        {w->ProgressBar1, {120, 3360, 4455, 255}, "", false},
        {w->Check1, {120, 2880, 855, 255}, "Ripeti", false},
        {w->cmdFine, {3840, 3720, 735, 495}, "", false},
        {w->List1, {120, 1200, 4455, 1650}, "", false},
        {w->cmdNuova, {4200, 240, 375, 375}, "", false},
        {w->cmdCompilation, {3720, 240, 375, 375}, "", false},
        {w->MMControl1, {120, 3720, 810, 495}, "", false},
        {w->Label3, {1560, 3840, 1815, 255}, "Versione beta 2", true},
        {w->Label2, {120, 960, 1215, 255}, "Canzoni:", false},
        {w->lblNomeCompilation, {120, 360, 3495, 255}, "- Nessuna -", false},
        {w->Label1, {120, 120, 1935, 255}, "Titolo della compilation:", false},
    };
}

// Text the control shows, for buttons, check boxes and labels; empty for others.
inline QString testoDi(const QWidget* control)
{
    if (auto* b = qobject_cast<const QAbstractButton*>(control))
        return b->text();
    if (auto* l = qobject_cast<const QLabel*>(control))
        return l->text();
    return {};
}

} // namespace sonora::test
