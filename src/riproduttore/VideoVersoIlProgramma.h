#pragma once
// The pictures of a video song, handed across to the program in the shared
// memory it gave this process (SharedMemory.h), one at a time.

#include "comune/SharedMemory.h"
#include "comune/VideoOutput.h"

#include <QByteArray>

#include <array>
#include <memory>

namespace sonora {

class Channel;

// A picture goes only when the program has taken the one before, and
// meanwhile only the newest waits: a program busy for a moment then skips
// pictures instead of falling behind. A place the program holds (the picture
// on its screen) is never written until it gives it back.
class VideoVersoIlProgramma : public IVideoOutput {
public:
    // `brano`: the number of the open song, which tags its pictures;
    // `memoria`: the program's memory file (-1: none, and no pictures go).
    VideoVersoIlProgramma(Channel& channel, const quint64& brano, int memoria);

    void showFrame(const QString& title, QSize display, const Picture& picture) override;
    void closeWindow() override;
    // The program has taken the last picture.
    void visto();
    // The program no longer holds the picture in `posto`.
    void libero(quint8 posto);

private:
    struct Posto {
        bool alProgramma = false;     // sent, and not given back yet
        std::unique_ptr<Mapping> mappa; // as much of the place as its largest picture so far
    };
    uchar* spazio(int posto, qsizetype bytes);
    void manda(int posto, const QByteArray& messaggio);

    Channel& channel_;
    const quint64& brano_;
    int memoria_;
    std::array<Posto, protocollo::kPostiFotogramma> posti_;
    bool inViaggio_ = false;
    int inAttesa_ = -1; // the place of the picture waiting to go
    QByteArray messaggioInAttesa_;
};

} // namespace sonora
