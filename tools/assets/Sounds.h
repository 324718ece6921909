// The program's sounds, synthesised, and their files.
#pragma once

#include <QString>

#include <vector>

namespace zandrel::assets {

// Writes `samples` (-1..1) as a 16-bit mono PCM wave file at `rate`, or fails.
void WriteWave(const QString& path, const std::vector<double>& samples, int rate);

// A short, dry tick: a noise transient over a quickly dying 2.2 kHz blip.
std::vector<double> ClickSound(int rate);
// A rising major arpeggio of bell tones that rings out, about 1.5 s.
std::vector<double> SplashSound(int rate);

}  // namespace zandrel::assets
