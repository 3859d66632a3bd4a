// A stand-in for a product's installer, started by autostart from the unpacked disk1
// directory. It records where it runs and what it finds there in the file named by
// FLOPPYSET_TEST_MARKER, releases "TavelotSetupSemaphore" once it is up, as a real
// installer does, and keeps running after that. The test paces it: the release waits for
// the file MARKER.release, the end for MARKER.end (each at most 60 s).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

void Note(const char* line) {
  const char* marker = std::getenv("FLOPPYSET_TEST_MARKER");
  if (!marker) return;
  if (FILE* file = std::fopen(marker, "a")) {
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
  }
}

// Waits until the file MARKER + suffix exists.
void AwaitCue(const char* suffix) {
  const char* marker = std::getenv("FLOPPYSET_TEST_MARKER");
  if (!marker) return;
  char path[MAX_PATH];
  std::snprintf(path, sizeof path, "%s%s", marker, suffix);
  for (int tries = 0; tries < 600 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; ++tries) {
    Sleep(100);
  }
}

}  // namespace

int main() {
  char line[MAX_PATH + 16] = "cwd=";
  GetCurrentDirectoryA(MAX_PATH, line + 4);
  Note(line);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*.*", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::snprintf(line, sizeof line, "file=%s", found.cFileName);
      if (found.cFileName[0] != '.') Note(line);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  AwaitCue(".release");
  HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "TavelotSetupSemaphore");
  Note(semaphore ? "semaphore=found" : "semaphore=none");
  if (semaphore) {
    ReleaseSemaphore(semaphore, 1, nullptr);
    CloseHandle(semaphore);
  }
  AwaitCue(".end");
  Note("ended");
  return 0;
}
