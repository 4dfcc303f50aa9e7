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

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "JCompress.h"

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

template <class F>
double Seconds(F&& f, int repeat) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeat;
}

void Row(const char* name, std::size_t in, std::size_t packed, double compress, double decompress) {
  double mb = static_cast<double>(in) / (1024.0 * 1024.0);
  std::printf("%-6s %9zu -> %8zu bytes (%5.1f%%)  compress %7.1f MB/s  decompress %7.1f MB/s\n", name, in, packed,
              100.0 * static_cast<double>(packed) / static_cast<double>(in), mb / compress, mb / decompress);
}

}  // namespace

int main() {
  const std::string text = MakeText(1024 * 1024);
  const int repeat = 5;

  std::string lzj;
  double lzjCompress = Seconds([&] { lzj = LzjCompress(text); }, repeat);
  std::string back;
  double lzjDecompressFresh = Seconds([&] { back = LzjDecompress(lzj); }, repeat);
  if (back != text) {
    std::printf("LZJ round trip failed\n");
    return 1;
  }
  std::string reused;
  LzjDecompressInto(lzj, reused);
  double lzjDecompress = Seconds([&] { LzjDecompressInto(lzj, reused); }, repeat);
  if (reused != text) {
    std::printf("LZJ round trip into a kept buffer failed\n");
    return 1;
  }

  std::vector<Bytef> z(compressBound(text.size()));
  uLongf zSize = 0;
  double zCompress = Seconds(
      [&] {
        zSize = static_cast<uLongf>(z.size());
        compress(z.data(), &zSize, reinterpret_cast<const Bytef*>(text.data()), text.size());
      },
      repeat);
  std::string zBack(text.size(), '\0');
  double zDecompress = Seconds(
      [&] {
        uLongf outSize = static_cast<uLongf>(zBack.size());
        uncompress(reinterpret_cast<Bytef*>(zBack.data()), &outSize, z.data(), zSize);
      },
      repeat);
  double zDecompressFresh = Seconds(
      [&] {
        std::string fresh(text.size(), '\0');
        uLongf outSize = static_cast<uLongf>(fresh.size());
        uncompress(reinterpret_cast<Bytef*>(fresh.data()), &outSize, z.data(), zSize);
        zBack.swap(fresh);
      },
      repeat);
  if (zBack != text) {
    std::printf("zlib round trip failed\n");
    return 1;
  }

  std::printf("1 MB of text, average of %d runs\n", repeat);
  Row("LZJ", text.size(), lzj.size(), lzjCompress, lzjDecompress);
  Row("zlib", text.size(), zSize, zCompress, zDecompress);
  double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
  std::printf("into fresh memory: LZJ decompress %7.1f MB/s, zlib decompress %7.1f MB/s\n", mb / lzjDecompressFresh,
              mb / zDecompressFresh);
  std::printf("LZJ/zlib: compress speed %.2fx, decompress speed %.2fx (goal: at least 1.00x), size %.2fx\n",
              zCompress / lzjCompress, zDecompress / lzjDecompress,
              static_cast<double>(lzj.size()) / static_cast<double>(zSize));
  return 0;
}
