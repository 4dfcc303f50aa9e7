// LZJ compression and decompression throughput on 1 MB of text, beside zlib
// (default level) on the same input. LZJ trades ratio for speed: a 2048-byte
// window, 40 positions per byte value and an early stop after 8 matching bytes.
//
// Decompression is measured twice for each: into a buffer kept from run to run
// (zlib's uncompress into its sized buffer, LzjDecompressInto), and into fresh
// memory each run (LzjDecompress returns a new string; zlib gets a new buffer).
// Fresh memory costs its page faults, which under Wine outweigh the decoding;
// the goal compares the decoders in the reused buffers.
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "JCompress.h"
#include "PairedTimes.h"

namespace {

// Text with the statistics of a language file: words from a small vocabulary,
// punctuation and line breaks.
std::string MakeText(std::size_t size) {
  static const char* const words[] = {
      "the",    "phone",   "connection", "was",      "not",     "established", "press",    "help",
      "button", "for",     "more",       "cable",    "serial",  "port",        "infrared", "Bluetooth",
      "next",   "finish",  "wizard",     "language", "select",  "please",      "wait",     "searching",
      "found",  "model",   "IMEI",       "software", "version", "Caption",     "Hint",     "Form1",
      "Label1", "Button2", "Cancel",     "OK",       "close",   "are",         "you",      "sure"};
  std::mt19937 rng(42);
  std::string text;
  text.reserve(size + 32);
  while (text.size() < size) {
    text += words[rng() % (sizeof words / sizeof *words)];
    unsigned r = rng() % 16;
    text += r == 0 ? ".\r\n" : r == 1 ? ", " : r == 2 ? "=" : " ";
  }
  text.resize(size);
  return text;
}

void Row(const char* name, std::size_t in, std::size_t packed, double compress, double decompress) {
  double mb = static_cast<double>(in) / (1024.0 * 1024.0);
  std::printf("%-6s %9zu -> %8zu bytes (%5.1f%%)  compress %7.1f MB/s  decompress %7.1f MB/s\n", name, in, packed,
              100.0 * static_cast<double>(packed) / static_cast<double>(in), mb / compress, mb / decompress);
}

}  // namespace

int main() {
  const std::string text = MakeText(1024 * 1024);
  const int pairs = 7;

  std::string lzj = LzjCompress(text);
  if (LzjDecompress(lzj) != text) {
    std::printf("LZJ round trip failed\n");
    return 1;
  }
  std::string reused;
  LzjDecompressInto(lzj, reused);
  if (reused != text) {
    std::printf("LZJ round trip into a kept buffer failed\n");
    return 1;
  }
  std::vector<Bytef> z(compressBound(text.size()));
  uLongf zSize = static_cast<uLongf>(z.size());
  compress(z.data(), &zSize, reinterpret_cast<const Bytef*>(text.data()), text.size());
  std::string zBack(text.size(), '\0');
  {
    uLongf outSize = static_cast<uLongf>(zBack.size());
    uncompress(reinterpret_cast<Bytef*>(zBack.data()), &outSize, z.data(), zSize);
  }
  if (zBack != text) {
    std::printf("zlib round trip failed\n");
    return 1;
  }

  // Each LZJ figure is timed in turns with zlib's on the same input (first LZJ, then zlib).
  std::vector<Bytef> zOut(z.size());
  const TPairedTimes compressing = TimePaired(
      pairs, [&] { lzj = LzjCompress(text); },
      [&] {
        uLongf size = static_cast<uLongf>(zOut.size());
        compress(zOut.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size());
      });
  const TPairedTimes decompressing = TimePaired(
      pairs, [&] { LzjDecompressInto(lzj, reused); },
      [&] {
        uLongf outSize = static_cast<uLongf>(zBack.size());
        uncompress(reinterpret_cast<Bytef*>(zBack.data()), &outSize, z.data(), zSize);
      });
  std::string back;
  const TPairedTimes fresh = TimePaired(
      pairs, [&] { back = LzjDecompress(lzj); },
      [&] {
        std::string into(text.size(), '\0');
        uLongf outSize = static_cast<uLongf>(into.size());
        uncompress(reinterpret_cast<Bytef*>(into.data()), &outSize, z.data(), zSize);
        zBack.swap(into);
      });
  if (back != text || reused != text || zBack != text) {
    std::printf("a timed round trip failed\n");
    return 1;
  }

  std::printf("1 MB of text, medians of %d runs each, LZJ and zlib in turns\n", pairs);
  Row("LZJ", text.size(), lzj.size(), compressing.first, decompressing.first);
  Row("zlib", text.size(), zSize, compressing.second, decompressing.second);
  const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
  std::printf("into fresh memory: LZJ decompress %7.1f MB/s, zlib decompress %7.1f MB/s\n", mb / fresh.first,
              mb / fresh.second);
  std::printf(
      "LZJ/zlib, pair by pair: compress speed %.2fx, decompress speed %.2fx (goal: at least 1.00x), size %.2fx\n",
      compressing.ratio, decompressing.ratio, static_cast<double>(lzj.size()) / static_cast<double>(zSize));
  return 0;
}
