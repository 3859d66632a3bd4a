// A stand-in for a product's installer, started by autostart from the unpacked disk1
// directory. It records where it runs and what it finds there in the file named by
// FLOPPYSET_TEST_MARKER, releases "TavelotSetupSemaphore" once it is up, as a real
// installer does, and keeps running a moment after that.
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

}  // namespace

int main() {
  Sleep(3000);  // the start takes a while: the notice shows meanwhile
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
  HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "TavelotSetupSemaphore");
  Note(semaphore ? "semaphore=found" : "semaphore=none");
  if (semaphore) {
    ReleaseSemaphore(semaphore, 1, nullptr);
    CloseHandle(semaphore);
  }
  Sleep(4000);
  Note("ended");
  return 0;
}
