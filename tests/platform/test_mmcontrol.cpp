#include "platform/MMControl.h"
#include "support/FakeMediaDevice.h"
#include "support/FakeMessageBox.h"
#include "support/Wait.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QToolButton>
#include <gtest/gtest.h>

#include <limits>
#include <utility>

using namespace sonora;
using sonora::test::FakeMediaDevice;

namespace {

struct Control {
    FakeMediaDevice* device;
    std::shared_ptr<FakeMediaDevice::State> media;
    sonora::test::FakeMessageBox messages;
    MMControl control;
    int ticks = 0;
    QList<Intero> done;

    Control()
        : device(new FakeMediaDevice)
        , media(device->script())
        , control(std::unique_ptr<IMediaDevice>(device),
                  [this](const std::function<void()>& handler) { runHandler(messages, handler); })
    {
        QObject::connect(&control, &MMControl::StatusUpdate, [this] { ++ticks; });
        QObject::connect(&control, &MMControl::Done, [this](Intero code) { done << code; });
    }
};

} // namespace

TEST(MMControl, CommandsReachTheDevice)
{
    Control c;
    c.control.setCommand(comando::Close); // closed device: succeeds, does nothing
    c.control.setCommand(comando::CloseAll);
    EXPECT_FALSE(c.media->open());

    c.control.setDeviceType("WaveAudio");
    c.control.setFileName("/m/a.wav");
    c.control.setCommand(comando::Open);
    EXPECT_TRUE(c.media->open());
    EXPECT_EQ(c.control.length(), 1000);
    c.control.setCommand(comando::Play);
    c.control.setCommand(comando::Sound);
    EXPECT_EQ(c.media->calls, QStringList({"close", "close", "open Wave /m/a.wav", "play", "play"}));

    c.control.setCommand(comando::CloseAll);
    EXPECT_FALSE(c.media->open());
    EXPECT_EQ(c.control.length(), 0);
    EXPECT_EQ(c.control.position(), 0);
    EXPECT_THROW(c.control.setCommand(comando::Play), MediaError);
}

TEST(MMControl, LengthAndPositionFollowTheSequencersRules)
{
    using namespace std::chrono_literals;
    using S = MediaState;
    constexpr qint32 Max = std::numeric_limits<qint32>::max();
    const struct {
        S state;
        std::optional<IMediaDevice::Duration> duration;
        IMediaDevice::Duration position;
        qint32 length, shown;
    } cases[] = {
        {S::Closed, 500ms, 200ms, 0, 0},
        {S::Ready, 500ms, 0ms, 500, 0},
        {S::Playing, 500ms, 200ms, 500, 200},
        {S::Playing, 500ms, 500ms, 500, 499},   // running: still short of the end
        {S::Playing, 500ms, 900ms, 500, 499},
        {S::Ended, 500ms, 480ms, 500, 500},     // ended: at the end, whatever was played
        {S::Playing, 0ms, 0ms, 0, 0},           // an empty song counts as ended at once
        {S::Playing, std::nullopt, 700ms, Max, 700}, // unknown length: never taken for ended
        {S::Playing, std::nullopt, IMediaDevice::Duration(Max), Max, Max - 1},
        {S::Ended, std::nullopt, 700ms, 700, 700},
        {S::Playing, IMediaDevice::Duration(5'000'000'000LL), 3'000'000'000ms, Max, Max - 1},
    };
    Control c;
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << int(k.state) << " " << k.position.count());
        c.media->state = k.state;
        c.media->duration = k.duration;
        c.media->position = k.position;
        EXPECT_EQ(c.control.length(), k.length);
        EXPECT_EQ(c.control.position(), k.shown);
    }

    // The device type chooses what the song is played as.
    const std::pair<const char*, const char*> kinds[] = {
        {"Sequencer", "Midi"}, {"WaveAudio", "Wave"}, {"AVIVideo", "Video"}, {"CDAudio", "Video"}};
    for (const auto& [type, kind] : kinds) {
        c.control.setDeviceType(type);
        c.control.setFileName("/m/x");
        c.control.setCommand(comando::Open);
        EXPECT_EQ(c.media->openKind, kind) << type;
    }
}

TEST(MMControl, NextSongFlagRaisesDoneOnceWithSuccessOrFailure)
{
    Control c;
    c.control.setNextSongFlag(Vero);
    c.control.setCommand(comando::Close);
    c.control.setCommand(comando::Close); // flag already cleared: no second Done
    EXPECT_EQ(c.done, QList<Intero>({MMControl::NotifySuccessful}));
    EXPECT_EQ(c.control.nextSongFlag(), Falso);

    c.media->failingPaths << "/m/manca.wav";
    c.control.setFileName("/m/manca.wav");
    c.control.setNextSongFlag(Vero);
    EXPECT_THROW(c.control.setCommand(comando::Open), MediaError);
    EXPECT_EQ(c.done, QList<Intero>({MMControl::NotifySuccessful, MMControl::NotifyFailure}));
}

TEST(MMControl, TicksOnlyWhileADeviceIsOpenAndAtOnceAtTheEnd)
{
    Control c;
    sonora::test::spin(250);
    EXPECT_EQ(c.ticks, 0);

    c.control.setFileName("/m/a.wav");
    c.control.setCommand(comando::Open);
    sonora::test::spin(350);
    EXPECT_GE(c.ticks, 1); // about three; fewer on a loaded machine
    EXPECT_LE(c.ticks, 4);

    // End of stream: a tick follows at once, not a full interval later.
    const int before = c.ticks;
    c.device->finish();
    sonora::test::spin(20);
    EXPECT_EQ(c.ticks, before + 1);

    c.control.setCommand(comando::Close);
    const int closedAt = c.ticks;
    sonora::test::spin(250);
    EXPECT_EQ(c.ticks, closedAt);
}

TEST(MMControl, AnOpenDuringATickIsFollowedByAPromptTickAndAFailedOneKeepsTicking)
{
    Control c;
    c.media->failingPaths << "/m/manca.wav";
    c.control.setFileName("/m/a.wav");
    c.control.setCommand(comando::Open);
    QString next = "/m/b.wav"; // what the next tick opens
    QObject::connect(&c.control, &MMControl::StatusUpdate, [&] {
        if (next.isEmpty())
            return;
        c.control.setCommand(comando::Close);
        c.control.setFileName(std::exchange(next, QString()));
        try {
            c.control.setCommand(comando::Open);
        } catch (const MediaError&) {
        }
    });
    c.control.tick();
    EXPECT_EQ(c.ticks, 1);
    sonora::test::spin(20);
    EXPECT_EQ(c.ticks, 2);

    // A song a tick cannot open reads as one at its end: a tick comes at
    // once, and ticks go on until a Close.
    next = "/m/manca.wav";
    c.control.tick();
    sonora::test::spin(20);
    EXPECT_EQ(c.ticks, 4);
    EXPECT_FALSE(c.media->open());
    EXPECT_EQ(c.control.length(), 0);
    EXPECT_EQ(c.control.position(), 0);
    sonora::test::spin(250);
    EXPECT_GE(c.ticks, 5);
    c.control.setCommand(comando::Close);
    const int closedAt = c.ticks;
    sonora::test::spin(250);
    EXPECT_EQ(c.ticks, closedAt);

    // An open outside a tick (the play button's) that fails leaves it quiet.
    c.control.setFileName("/m/manca.wav");
    EXPECT_THROW(c.control.setCommand(comando::Open), MediaError);
    sonora::test::spin(250);
    EXPECT_EQ(c.ticks, closedAt);
}

TEST(MMControl, ButtonsRaiseTheirEventsThenActUnlessCancelled)
{
    Control c;
    QStringList events;
    Intero cancelPlay = 0;
    QObject::connect(&c.control, &MMControl::PlayClick, [&](Intero& cancel) {
        events << "PlayClick";
        c.control.setFileName("/m/a.wav");
        c.control.setCommand(comando::Open);
        cancel = cancelPlay;
    });
    QObject::connect(&c.control, &MMControl::StopClick, [&](Intero&) { events << "StopClick"; });

    // A screen reader meets two push buttons whose press is a click.
    for (QToolButton* b : {c.control.playButton(), c.control.stopButton()}) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(b);
        EXPECT_EQ(face->role(), QAccessible::Button);
        EXPECT_FALSE(face->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    }
    EXPECT_EQ(c.control.playButton()->accessibleName(), "Riproduci");
    EXPECT_EQ(c.control.stopButton()->accessibleName(), "Ferma");
    EXPECT_EQ(c.control.playButton()->focusPolicy(), Qt::StrongFocus);

    ASSERT_TRUE(sonora::test::doAccessibleAction(c.control.playButton(), QAccessibleActionInterface::pressAction()));
    EXPECT_TRUE(c.media->playing());
    ASSERT_TRUE(sonora::test::doAccessibleAction(c.control.stopButton(), QAccessibleActionInterface::pressAction()));
    EXPECT_FALSE(c.media->playing());
    c.control.playButton()->click();
    EXPECT_TRUE(c.media->playing());
    EXPECT_EQ(events, QStringList({"PlayClick", "StopClick", "PlayClick"}));

    cancelPlay = -1;
    c.control.stopButton()->click();
    c.control.clickPlay();
    EXPECT_FALSE(c.media->playing());
}
