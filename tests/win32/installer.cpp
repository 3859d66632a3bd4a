// A stand-in for a product's installer, started by autostart from the unpacked disk1. It
// notes where it runs and what it finds in the file FLOPPYSET_TEST_MARKER, releases
// "TavelotSetupSemaphore" once it is up, as a real installer does, and keeps running. The
// test paces it: the release waits for the file MARKER.release, the end for MARKER.end.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static const std::string kMarker =
    std::getenv("FLOPPYSET_TEST_MARKER") ? std::getenv("FLOPPYSET_TEST_MARKER") : "";

static void Note(const std::string& line) {
  if (FILE* file = kMarker.empty() ? nullptr : std::fopen(kMarker.c_str(), "a"))
    std::fprintf(file, "%s\n", line.c_str()), std::fclose(file);
}

static void AwaitCue(const char* suffix) {  // at most 60 s
  for (int tries = 0; tries < 600 && !kMarker.empty() &&
                      GetFileAttributesA((kMarker + suffix).c_str()) == INVALID_FILE_ATTRIBUTES;
       ++tries)
    Sleep(100);
}

int main() {
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, cwd);
  Note(std::string("cwd=") + cwd);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*.*", &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
    if (found.cFileName[0] != '.') Note(std::string("file=") + found.cFileName);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  AwaitCue(".release");
  HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "TavelotSetupSemaphore");
  Note(semaphore ? "semaphore=found" : "semaphore=none");
  if (semaphore) ReleaseSemaphore(semaphore, 1, nullptr), CloseHandle(semaphore);
  AwaitCue(".end");
  Note("ended");
  return 0;
}
