// Plays one file through the sound binding and prints the result:
//   sound_probe FILE FLAGS
#include <cstdio>
#include <cstdlib>

#include "platform/sound/PlayWave.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto flags = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0));
  std::printf("%d\n", zandrel::sound::PlayWave(argv[1], flags));
  return 0;
}
