#include "Sounds.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "AssetSupport.h"

namespace zandrel::assets {

namespace {

void Normalise(std::vector<double>& s, double peak) {
  double m = 0;
  for (double v : s) m = std::max(m, std::abs(v));
  if (m > 0)
    for (double& v : s) v *= peak / m;
}

}  // namespace

void WriteWave(const QString& path, const std::vector<double>& samples, int rate) {
  QByteArray b;
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto u16 = [&](std::uint16_t v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>(v >> 8));
  };
  const auto n = static_cast<std::uint32_t>(samples.size());
  b.append("RIFF");
  u32(36 + n * 2);
  b.append("WAVEfmt ");
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate) * 2);
  u16(2);
  u16(16);
  b.append("data");
  u32(n * 2);
  for (double s : samples) {
    const double clamped = std::max(-1.0, std::min(1.0, s));
    u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(clamped * 32767.0))));
  }
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(b) != b.size()) Fail("cannot write " + path);
}

std::vector<double> ClickSound(int rate) {
  const int n = rate * 45 / 1000;
  std::vector<double> s(static_cast<std::size_t>(n));
  std::uint32_t seed = 7;
  double low = 0;
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    seed = seed * 1103515245u + 12345u;
    const double noise = ((seed >> 16) & 0x7FFF) / 16384.0 - 1.0;
    low += 0.35 * (noise - low);
    const double tick = std::exp(-t * 900.0) * low;
    const double blip = std::exp(-t * 160.0) * std::sin(2 * kPi * 2200.0 * t) * 0.6 +
                        std::exp(-t * 220.0) * std::sin(2 * kPi * 1100.0 * t) * 0.3;
    const double attack = std::min(1.0, i / (rate * 0.0006));
    s[static_cast<std::size_t>(i)] = attack * (tick + blip);
  }
  Normalise(s, 0.5);
  return s;
}

std::vector<double> SplashSound(int rate) {
  const int n = rate * 1550 / 1000;
  std::vector<double> s(static_cast<std::size_t>(n), 0.0);
  const double notes[] = {523.25, 659.25, 783.99, 1046.50};  // C5 E5 G5 C6
  const struct {
    double ratio, gain, decay;
  } partials[] = {{1.0, 1.0, 3.2}, {2.0, 0.35, 5.0}, {2.76, 0.18, 7.5}, {4.07, 0.08, 11.0}};
  for (std::size_t k = 0; k < std::size(notes); ++k) {
    const int start = static_cast<int>(rate * 0.11 * static_cast<double>(k));
    const double level = k + 1 == std::size(notes) ? 0.9 : 0.7;
    for (int i = start; i < n; ++i) {
      const double t = static_cast<double>(i - start) / rate;
      const double attack = std::min(1.0, t / 0.004);
      double v = 0;
      for (const auto& p : partials) v += p.gain * std::exp(-t * p.decay) * std::sin(2 * kPi * notes[k] * p.ratio * t);
      s[static_cast<std::size_t>(i)] += level * attack * v;
    }
  }
  // Let the tail fade to silence over the last 150 ms.
  const int fade = rate * 150 / 1000;
  for (int i = 0; i < fade; ++i) s[static_cast<std::size_t>(n - fade + i)] *= 1.0 - static_cast<double>(i) / fade;
  Normalise(s, 0.7);
  return s;
}

}  // namespace zandrel::assets
