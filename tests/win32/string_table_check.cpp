// Compares the string table inside floppyset.exe, loaded with LoadStringA as the program
// does, with the table the C++ compiler makes from the same messages.def: every id must be
// present with exactly the same bytes (quotes, backslashes, line ends).
// Usage: string_table_check FLOPPYSET.EXE
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HMODULE program = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!program) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  struct Entry {
    int id;
    const char* text;
  };
  static const Entry kEntries[] = {
#define FLOPPYSET_MESSAGE(id, symbol, text) {id, text},
#include "messages.def"
#undef FLOPPYSET_MESSAGE
  };
  int mismatches = 0;
  for (const auto& [id, text] : kEntries) {
    static char buffer[10000];
    const int length = LoadStringA(program, static_cast<UINT>(id), buffer, sizeof buffer);
    const std::string loaded(buffer, length > 0 ? length : 0);
    const std::string expected = text;
    if (loaded == expected) continue;
    std::printf("string %d differs:\n  resource: \"%s\"\n  table:    \"%s\"\n", id, loaded.c_str(),
                expected.c_str());
    ++mismatches;
  }
  const size_t count = sizeof kEntries / sizeof *kEntries;
  std::printf("%d of %zu strings as in messages.def\n", static_cast<int>(count) - mismatches,
              count);
  return mismatches == 0 ? 0 : 1;
}
