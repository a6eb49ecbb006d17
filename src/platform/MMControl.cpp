#include "platform/MMControl.h"

#include "comune/Errori.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

#include <algorithm>
#include <limits>

namespace sonora {
namespace {

// The length of a song that has not told it: longer than any position.
constexpr qint32 Sempre = std::numeric_limits<qint32>::max();

qint32 toMs32(IMediaDevice::Duration d)
{
    return qint32(std::clamp<std::chrono::milliseconds::rep>(d.count(), 0, Sempre));
}

enum class Glyph { Play, Stop };

// Draws the button glyph at the screen's pixel density, so it stays sharp.
// A lit glyph sits on a highlight: the play button's look while a song plays.
QIcon glyphIcon(Glyph glyph, qreal dpr, bool lit = false)
{
    QIcon icon;
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
        const int size = 16;
        QPixmap pixmap(QSize(size, size) * dpr);
        pixmap.setDevicePixelRatio(dpr);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor ink = mode == QIcon::Normal ? QColor(0x20, 0x20, 0x20) : QColor(0x90, 0x90, 0x90);
        p.setPen(Qt::NoPen);
        if (lit && mode == QIcon::Normal) {
            p.setBrush(QColor(0x1e, 0x7b, 0x34, 0x40));
            p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
        }
        if (glyph == Glyph::Play) {
            p.setBrush(mode == QIcon::Normal ? QColor(0x1e, 0x7b, 0x34) : ink);
            QPainterPath triangle;
            triangle.moveTo(4.5, 2.5);
            triangle.lineTo(13.5, 8);
            triangle.lineTo(4.5, 13.5);
            triangle.closeSubpath();
            p.drawPath(triangle);
        } else {
            p.setBrush(ink);
            p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1, 1);
        }
        icon.addPixmap(pixmap, mode);
    }
    return icon;
}

QToolButton* makeButton(QWidget* parent, Glyph glyph, const QString& name)
{
    auto* b = new QToolButton(parent);
    b->setIcon(glyphIcon(glyph, parent->devicePixelRatioF()));
    b->setAccessibleName(name);
    b->setToolTip(name);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setAutoRaise(false);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return b;
}

MediaKind kindOf(const QString& deviceType)
{
    if (deviceType.compare(QLatin1String("Sequencer"), Qt::CaseInsensitive) == 0)
        return MediaKind::Midi;
    if (deviceType.compare(QLatin1String("WaveAudio"), Qt::CaseInsensitive) == 0)
        return MediaKind::Wave;
    return MediaKind::Video; // the file's content decides; no picture is ever lost
}

} // namespace

MMControl::MMControl(std::unique_ptr<IMediaDevice> device, HandlerRunner runHandler, QWidget* parent)
    : QWidget(parent)
    , device_(std::move(device))
    , runHandler_(std::move(runHandler))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    play_ = makeButton(this, Glyph::Play, QStringLiteral("Riproduci"));
    stop_ = makeButton(this, Glyph::Stop, QStringLiteral("Ferma"));
    // Plain push buttons, not toggles: a screen reader's "press" must do
    // exactly what a click does. The playing state shows in the play glyph.
    playIcon_ = play_->icon();
    playingIcon_ = glyphIcon(Glyph::Play, devicePixelRatioF(), true);
    layout->addWidget(play_);
    layout->addWidget(stop_);
    setFocusProxy(play_);

    connect(play_, &QToolButton::clicked, this, &MMControl::clickPlay);
    connect(stop_, &QToolButton::clicked, this, &MMControl::clickStop);

    statusTimer_.setInterval(StatusIntervalMs);
    connect(&statusTimer_, &QTimer::timeout, this, &MMControl::tick);

    device_->onEnded = [this] { scheduleTickSoon(); };
    updateLook();
}

MMControl::~MMControl()
{
    device_->onEnded = nullptr;
    device_->close();
}

void MMControl::setDeviceType(const QString& type)
{
    deviceType_ = type;
    kind_ = kindOf(type);
}

void MMControl::prepareNext(const QString& fileName, const QString& deviceType)
{
    device_->prepare(fileName, kindOf(deviceType));
}

qint32 MMControl::length() const
{
    const MediaState state = device_->state();
    if (state == MediaState::Closed)
        return 0;
    if (const auto duration = device_->duration())
        return toMs32(*duration);
    return state == MediaState::Ended ? toMs32(device_->position()) : Sempre;
}

qint32 MMControl::position() const
{
    const MediaState state = device_->state();
    if (state == MediaState::Closed)
        return 0;
    const qint32 played = toMs32(device_->position());
    const auto duration = device_->duration();
    if (!duration)
        return state == MediaState::Ended ? played : std::min(played, Sempre - 1);
    const qint32 length = toMs32(*duration);
    if (state == MediaState::Ended)
        return length;
    return std::clamp(played, 0, std::max(0, length - 1));
}

void MMControl::setCommand(Comando command)
{
    command_ = command;
    const bool notify = isTrue(nextSong_);
    if (!notify) {
        execute(command);
        return;
    }
    nextSong_ = Falso;
    try {
        execute(command);
    } catch (...) {
        emit Done(NotifyFailure);
        throw;
    }
    emit Done(NotifySuccessful);
}

void MMControl::execute(Comando command)
{
    switch (command) {
    case Comando::Open:
        // A song that a tick cannot open reads as one at its end (length and
        // position 0): ticks go on, so the sequencer passes over it, until
        // the next Close or Open.
        openFailedInTick_ = inTick_;
        try {
            device_->open(fileName_, kind_);
        } catch (...) {
            afterOpen();
            throw;
        }
        openFailedInTick_ = false;
        afterOpen();
        return;
    case Comando::Close:
    case Comando::CloseAll:
        openFailedInTick_ = false;
        device_->close();
        updateTimer();
        return;
    case Comando::Play:
    case Comando::Sound:
        if (!device_->isOpen())
            throw MediaError(QStringLiteral("Nessun dispositivo multimediale aperto: impossibile avviare la riproduzione."));
        device_->play();
        return;
    }
}

void MMControl::afterOpen()
{
    updateTimer();
    // A song opened by a tick starts at the next one, and one that failed is
    // passed over there: make that tick come at once rather than a full
    // interval later.
    if (inTick_)
        scheduleTickSoon();
}

void MMControl::updateTimer()
{
    if (ticking()) {
        if (!statusTimer_.isActive())
            statusTimer_.start();
    } else {
        statusTimer_.stop();
    }
    emit changed();
}

void MMControl::scheduleTickSoon()
{
    if (tickPending_)
        return;
    tickPending_ = true;
    QTimer::singleShot(0, this, [this] {
        tickPending_ = false;
        if (ticking()) {
            statusTimer_.start(); // the next regular tick counts from this one
            tick();
        }
    });
}

void MMControl::tick()
{
    inTick_ = true;
    emit StatusUpdate();
    inTick_ = false;
}

void MMControl::clickPlay()
{
    Intero cancel = 0;
    emit PlayClick(cancel);
    if (cancel == 0) {
        runHandler_([this] {
            if (device_->isOpen())
                device_->play();
        });
    }
    updateLook();
}

void MMControl::clickStop()
{
    Intero cancel = 0;
    emit StopClick(cancel);
    if (cancel == 0)
        runHandler_([this] { device_->stop(); });
}

void MMControl::setIdleFlag(Booleano value)
{
    idle_ = value;
    updateLook();
}

void MMControl::setPlayingFlag(Booleano value)
{
    playing_ = value;
    updateLook();
}

void MMControl::updateLook()
{
    // Both buttons stay usable at all times; the flags only show the state.
    play_->setIcon(isTrue(playing_) ? playingIcon_ : playIcon_);
    emit changed();
}

} // namespace sonora
