#include "platform/FotogrammiRemoti.h"

#include "comune/Channel.h"
#include "comune/SharedMemory.h"
#include "platform/VideoWindow.h"

namespace sonora {
namespace {

using namespace protocollo;

// A picture in a place of a player's shared memory. The memory stays mapped
// while it lives, and when it goes the place is the player's again.
class Presa {
public:
    Presa(std::shared_ptr<const Mapping> memoria, std::weak_ptr<Channel> channel, quint8 posto)
        : memoria_(std::move(memoria))
        , channel_(std::move(channel))
        , posto_(posto)
    {
    }
    ~Presa()
    {
        if (const auto channel = channel_.lock())
            channel->send(scrivi(Domanda::libero(posto_)));
    }
    Presa(const Presa&) = delete;
    Presa& operator=(const Presa&) = delete;

private:
    std::shared_ptr<const Mapping> memoria_;
    std::weak_ptr<Channel> channel_;
    quint8 posto_;
};

} // namespace

FotogrammiRemoti::FotogrammiRemoti(VideoWindowOutput& video)
    : video_(video)
{
}

void FotogrammiRemoti::collega(std::shared_ptr<const Mapping> memoria, std::weak_ptr<Channel> channel)
{
    memoria_ = std::move(memoria);
    channel_ = std::move(channel);
}

void FotogrammiRemoti::scollega()
{
    differiti_.clear();
    memoria_.reset();
    channel_.reset();
}

void FotogrammiRemoti::mostra(const Fotogramma& f, bool attuale)
{
    if (!memoria_)
        return;
    Picture picture;
    picture.size = f.misura;
    picture.stride = qsizetype(f.misura.width()) * 4;
    picture.bits = memoria_->data() + kPostoFotogramma * f.posto;
    picture.owner = std::make_shared<Presa>(memoria_, channel_, f.posto);
    if (attuale)
        video_.showFrame(f.titolo, f.display, picture);
}

std::optional<Fotogramma> FotogrammiRemoti::prossimoDifferito()
{
    if (differiti_.empty())
        return std::nullopt;
    Fotogramma f = std::move(differiti_.front());
    differiti_.pop_front();
    return f;
}

} // namespace sonora
