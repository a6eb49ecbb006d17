#pragma once
// Small media files made at test time: WAV tones, MIDI songs (type 0 and 1),
// RMI wrappers, AVI videos with sound, and broken files of every kind.
// Every writer puts the file `name` (any characters the file system allows)
// into the folder `dir`, returns its full path, and throws std::runtime_error
// when the file cannot be made.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

namespace sonora::test {

// 16-bit PCM sine tone.
QByteArray wavBytes(int durationMs, int sampleRate = 44100, int channels = 2, double frequencyHz = 440.0);
QString writeWav(const QString& dir, const QString& name, int durationMs, int sampleRate = 44100,
                 int channels = 2, double frequencyHz = 440.0);

// A PCM tone of its own in each channel, as `bits`-bit integers (8, 16, 24
// or 32) at `dbfs`; files of more than two channels or 16 bits carry their
// channels' positions (WAVE_FORMAT_EXTENSIBLE's mask: 0x3 stereo, 0x60f 5.1).
struct Tones {
    int rate = 48000;
    int bits = 16;
    std::vector<double> hz{997.0, 997.0};
    int durationMs = 3000;
    double dbfs = -6.0;
    quint32 mask = 0x3;
};
QByteArray toneWavBytes(const Tones& tones);

// A Standard MIDI File of format 0 (one track) or 1 (conductor track plus two
// instrument tracks) whose last event falls at `durationMs`.
QByteArray smfBytes(int format, int durationMs);
QString writeMidi(const QString& dir, const QString& name, int format, int durationMs);

// A RIFF "RMID" file holding `smf` in its "data" chunk, followed by a LIST
// INFO chunk as real RMI files often have.
QByteArray rmidBytes(const QByteArray& smf);
QString writeRmi(const QString& dir, const QString& name, int durationMs, int format = 0);

// Motion JPEG video at 25 frames/s, colour bars that move, plus, if asked, 16-bit PCM stereo sound,
// made by GStreamer's own test sources and AVI muxer.
QString writeAvi(const QString& dir, const QString& name, int durationMs, QSize size = QSize(160, 120),
                 bool withAudio = true);

// Files as Windows 3.1/95/98 programs wrote them, put together by our own
// RIFF writer: video frames drawn from eraPicture(), sound a 440 Hz tone at
// 22.05 kHz mono, compressed where asked by GStreamer's own encoders.
enum class EraVideo { None, Dib8, Dib8TopDown, Dib16, Dib16Bitfields565, Dib24, Dib24TopDown, Dib32, Rle8, Cinepak,
                      MsVideo1, Mpeg4, Unknown };
enum class EraSound { None, U8, S16, S24, Float, Extensible, MuLaw, ALaw, ImaAdpcm, MsAdpcm, Mp3, Mp2, Unknown };
// Four coloured quadrants, so that a picture upside down, mirrored or with a
// wrong palette shows in its corners.
QImage eraPicture(QSize size = QSize(64, 48));
QString writeEraAvi(const QString& dir, const QString& name, EraVideo video, EraSound sound, int durationMs = 400,
                    QSize size = QSize(64, 48));
// Uncompressed 24-bit video at 25 frames/s, black but for one white frame
// a second, from the 26th frame, `flashes` of them; its 16-bit PCM sound is
// silent but for a sharp click that starts with each white frame.
QString writeFlashAvi(const QString& dir, const QString& name, int flashes = 8, QSize size = QSize(160, 120));
// A WAV of `sound` (not None or Unknown) with a fact chunk and the format's
// extra bytes as the codec wrote them; an odd number of samples.
QString writeEraWav(const QString& dir, const QString& name, EraSound sound, int durationMs = 400);

// Files as the programs of Windows 3.1/95/98 wrote them, of every kind the
// player repairs or decodes.
struct EraCase {
    const char* name;
    EraVideo video;
    EraSound sound;
    bool wav = false;

    bool hasPicture() const { return video != EraVideo::None && video != EraVideo::Unknown; }
    bool hasSound() const { return sound != EraSound::None && sound != EraSound::Unknown; }
    // dir/name, lasting `durationMs`.
    QString write(const QString& dir, int durationMs = 400) const;
};
const std::vector<EraCase>& eraCases();

// Broken files.
QString writeEmpty(const QString& dir, const QString& name);
QString writeRandom(const QString& dir, const QString& name, qint64 bytes, quint32 seed = 1);
// The first `keepBytes` bytes of `source`.
QString writeTruncatedCopy(const QString& source, const QString& dir, const QString& name, qint64 keepBytes);

// Writes `bytes` into dir/name.
QString writeBytes(const QString& dir, const QString& name, const QByteArray& bytes);

} // namespace sonora::test
