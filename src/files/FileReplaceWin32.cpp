#include "files/FileReplace.h"

#include <windows.h>

#include <string>

namespace zandrel::files {

namespace {

status::Status Failed(DWORD error) {
  char text[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 sizeof text, nullptr);
  std::string reason(text, n);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  if (reason.empty()) reason = "error " + std::to_string(error);
  return {status::Status::kFailed, "cannot write the file: " + reason};
}

HANDLE Handle(ReplaceSteps::File file) { return reinterpret_cast<HANDLE>(file); }

int Write(ReplaceSteps::File file, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(bytes.size() - done > (1u << 30) ? (1u << 30) : bytes.size() - done);
    DWORD written = 0;
    if (!WriteFile(Handle(file), bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return static_cast<int>(GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT);
    done += written;
  }
  return 0;
}

int Flush(ReplaceSteps::File file) { return FlushFileBuffers(Handle(file)) ? 0 : static_cast<int>(GetLastError()); }

// MoveFileExA replaces the old file in one step and keeps it when it fails;
// write-through returns only once the move is on disk.
int Move(const std::string& temporary, const std::string& path) {
  return MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : static_cast<int>(GetLastError());
}

}  // namespace

// The move writes through, so there is no folder to flush after it.
const ReplaceSteps& SystemReplaceSteps() {
  static const ReplaceSteps steps{Write, Flush, Move, nullptr};
  return steps;
}

status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes) {
  return ReplaceFileWhole(path, bytes, SystemReplaceSteps());
}

status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes, const ReplaceSteps& steps) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return {status::Status::kNotAFile, "is a folder, not a file"};
  // A device (NUL, CON) cannot be replaced: it is written in place.
  if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND &&
      GetLastError() != ERROR_PATH_NOT_FOUND) {
    HANDLE device = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return Failed(GetLastError());
    DWORD written = 0;
    const bool ok =
        bytes.empty() || (WriteFile(device, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                          written == bytes.size());
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(device);
    return ok ? status::Status() : Failed(error);
  }
  for (unsigned attempt = 0;; ++attempt) {
    const std::string temporary =
        path + ".zandrel-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS && attempt < 100) continue;
      return Failed(GetLastError());
    }
    const auto handle = reinterpret_cast<ReplaceSteps::File>(file);
    DWORD error = static_cast<DWORD>(steps.write(handle, bytes));
    if (error == 0) error = static_cast<DWORD>(steps.flush(handle));
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    if (error == 0) error = static_cast<DWORD>(steps.put(temporary, path));
    if (error != 0) {
      DeleteFileA(temporary.c_str());
      return Failed(error);
    }
    return {};
  }
}

}  // namespace zandrel::files
