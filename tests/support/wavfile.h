#pragma once

// Real audio files for tests: silent 16-bit PCM WAV of a given length, in memory or, for
// long ones, written sparse to disk.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace calmcove::test {

// The 44-byte header of `frames` frames of mono 8 kHz 16-bit PCM.
inline QByteArray wavHeader(quint32 frames)
{
    QByteArray data;
    const auto put32 = [&data](quint32 v) { data.append(reinterpret_cast<const char*>(&v), 4); };
    const auto put16 = [&data](quint16 v) { data.append(reinterpret_cast<const char*>(&v), 2); };
    data += "RIFF";
    put32(36 + frames * 2);
    data += "WAVEfmt ";
    put32(16);
    put16(1);    // PCM
    put16(1);    // mono
    put32(8000); // frames per second
    put32(16000);
    put16(2);
    put16(16);
    data += "data";
    put32(frames * 2);
    return data;
}

// `seconds` of silence, mono, 8 kHz.
inline QByteArray silentWav(double seconds)
{
    const auto frames = quint32(seconds * 8000);
    return wavHeader(frames) + QByteArray(qsizetype(frames) * 2, '\0');
}

// A silent WAV of about `bytes` bytes at `path`, written as a header and a hole, so that it
// takes no disk space and reads at memory speed. False when it cannot be written.
inline bool writeLongSilentWav(const QString& path, qint64 bytes)
{
    const auto frames = quint32((bytes - 44) / 2);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(wavHeader(frames)) == 44 &&
           file.resize(44 + qint64(frames) * 2);
}

} // namespace calmcove::test
