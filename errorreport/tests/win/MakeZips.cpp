// MakeZips.exe FOLDER: writes the report archives that the zip-tools script
// checks with the archive tools: plain.zip and pw.zip (password "pw"), each
// with report.txt and an empty empty.txt. Prints "made N archives".
#include <cstdio>
#include <fstream>
#include <string>

#include "EZip.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string folder = std::string(argv[1]) + "\\";
  std::string text;
  for (int i = 0; i < 500; ++i) text += "Line " + std::to_string(i) + " of the report\r\n";
  std::ofstream(folder + "report.txt", std::ios::binary) << text;
  std::ofstream(folder + "empty.txt", std::ios::binary);
  int made = 0;
  for (const char* password : {"", "pw"}) {
    TOwned<TZipWriter> w(New<TZipWriter>(folder + (*password ? "pw.zip" : "plain.zip"), password));
    if (w->IsOpen() && w->AddFileEntry(folder + "report.txt", "report.txt") &&
        w->AddFileEntry(folder + "empty.txt", "empty.txt"))
      ++made;
  }
  std::printf("made %d archives\n", made);
  return made == 2 ? 0 : 1;
}
