// zandrel-reg's console where there is no Windows console.
#include <cstdio>

#include "shell/reg/Verb.h"
#include "text/LargePages.h"

namespace zandrel::shell::reg {

bool Write(int stream, const std::string& text) {
  std::FILE* out = stream == 2 ? stderr : stdout;
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}

const char* LineEnd() { return "\n"; }

// The whole-store work fills tens of megabytes of heap once (a parsed file,
// SQLite's pages): on large pages, where first touching a 4 KB page is dear
// (virtual machines), that no longer takes a third of an import.
void PrepareProcess() { text::PutHeapOnLargePages(); }

}  // namespace zandrel::shell::reg
