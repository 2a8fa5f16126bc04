// corvane-record-arguments: a stand-in for a program that others start.
// Appends one record per start to the file named by CORVANE_RECORD_FILE:
// the argument count, then each argument after a NUL byte, then a line
// feed. RecordedStarts (tests/support/RecordedStarts.h) reads the records back.

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
  const char* Path = std::getenv("CORVANE_RECORD_FILE");
  if (!Path)
    return 2;
  std::FILE* File = std::fopen(Path, "ab");
  if (!File)
    return 1;
  std::fprintf(File, "%d", argc - 1);
  for (int I = 1; I < argc; ++I) {
    std::fputc('\0', File);
    std::fputs(argv[I], File);
  }
  std::fputc('\n', File);
  return std::fclose(File) == 0 ? 0 : 1;
}
