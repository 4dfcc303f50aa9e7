// The mail program of the "mailto:" test: MailtoRecorder OUT RELEASE URL
// writes URL to OUT, then stays until the file RELEASE exists (at most a
// minute) and writes "ended" to OUT.end. A report that waited for the mail
// program to end would never see RELEASE made.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  if (FILE* out = std::fopen(argv[1], "wb")) {
    std::fputs(argv[3], out);
    std::fclose(out);
  }
  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  char name[MAX_PATH];
  std::snprintf(name, sizeof name, "%s.end", argv[1]);
  if (FILE* end = std::fopen(name, "wb")) {
    std::fputs("ended", end);
    std::fclose(end);
  }
  return 0;
}
