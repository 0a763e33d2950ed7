#pragma once

// Small real audio files for tests: silent 16-bit PCM WAV of a given length.

#include <QByteArray>

namespace calmcove::test {

// `seconds` of silence, mono, 8 kHz.
inline QByteArray silentWav(double seconds)
{
    const auto frames = quint32(seconds * 8000);
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
    data.append(QByteArray(qsizetype(frames) * 2, '\0'));
    return data;
}

} // namespace calmcove::test
