// formc: converts between the form text and the binary form.
//
//   formc [--binary] INPUT OUTPUT   form text -> binary form ("TPF0"...)
//   formc --resource INPUT OUTPUT   form text -> resource-wrapped binary form
//   formc --text INPUT OUTPUT       binary or resource-wrapped form -> form text
//
// The output is written only when the conversion succeeds.
#include <cstdio>
#include <exception>
#include <string>

#include "ObjectConvert.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: formc [--binary | --resource | --text] INPUT OUTPUT\n"
               "  --binary    form text to binary form (the default)\n"
               "  --resource  form text to resource-wrapped binary form\n"
               "  --text      binary or resource-wrapped form to form text\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = "--binary";
  int first = 1;
  if (argc == 4) {
    mode = argv[1];
    first = 2;
  } else if (argc != 3) {
    return Usage();
  }
  if (mode != "--binary" && mode != "--resource" && mode != "--text") return Usage();
  const std::string input = argv[first];
  const std::string output = argv[first + 1];

  TMemoryStream* in = nullptr;
  TMemoryStream* out = nullptr;
  int rc = 0;
  try {
    in = New<TMemoryStream>();
    out = New<TMemoryStream>();
    in->LoadFromFile(input);
    TStreamOriginalFormat format = TestStreamFormat(*in);
    if (mode == "--text") {
      if (format == sofBinary)
        ObjectBinaryToText(*in, *out);
      else if (format == sofResource)
        ObjectResourceToText(*in, *out);
      else
        throw EReadError("Invalid stream format: " + input + " is not a binary form");
    } else {
      if (format != sofText) throw EParserError("Invalid stream format: " + input + " is not a form text");
      if (mode == "--resource")
        ObjectTextToResource(*in, *out);
      else
        ObjectTextToBinary(*in, *out);
    }
    out->SaveToFile(output);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "formc: %s: %s\n", input.c_str(), e.what());
    rc = 1;
  }
  FreeObject(in);
  FreeObject(out);
  return rc;
}
