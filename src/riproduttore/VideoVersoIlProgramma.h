#pragma once
// The pictures of a video song, handed across to the program over the
// socket, one at a time.

#include "comune/VideoOutput.h"

#include <QByteArray>

#include <optional>

namespace sonora {

class Canale;

// A picture goes only when the program has taken the one before, and
// meanwhile only the newest waits: a program busy for a moment then skips
// pictures instead of falling behind.
class VideoVersoIlProgramma : public IVideoOutput {
public:
    // `brano`: the number of the open song, which tags its pictures.
    VideoVersoIlProgramma(Canale& canale, const quint64& brano);

    void showFrame(const QString& title, QSize display, const Picture& picture) override;
    void closeWindow() override;
    // The program has taken the last picture.
    void visto();

private:
    Canale& canale_;
    const quint64& brano_;
    bool inViaggio_ = false;
    std::optional<QByteArray> inAttesa_;
};

} // namespace sonora
