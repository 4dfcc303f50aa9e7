// Colour reduction of a 1024 × 1024 photo-like 24-bit picture. rmHistogram
// and rmMedianCut beside a plain reference written here, in turns: an unordered-map
// histogram of the exact colours, the 256 most frequent kept, each distinct
// colour mapped once by a linear search of that palette, then every pixel
// through the map. Goal: each ratio (reference time / ours) at least 1.00.
// The other reductions print their throughput.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

#include "PairedTimes.h"
#include "QvGraph.h"

namespace {

constexpr int kSize = 1024;

TBitmapInfoHeader Header24() {
  TBitmapInfoHeader h;
  h.biWidth = kSize;
  h.biHeight = kSize;
  h.biBitCount = 24;
  return h;
}

// Smooth shading in three channels with a sky-like gradient, some objects and
// sensor noise: hundreds of thousands of distinct colours.
std::vector<std::uint8_t> MakePhoto() {
  std::mt19937 rng(11);
  std::vector<std::uint8_t> px(static_cast<std::size_t>(kSize) * kSize * 3);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      double fx = x / static_cast<double>(kSize), fy = y / static_cast<double>(kSize);
      double r = 90 + 120 * fy + 30 * std::sin(fx * 17) * std::cos(fy * 5);
      double g = 120 + 60 * std::sin(fx * 6 + fy * 3) + 40 * fy;
      double b = 200 - 110 * fy + 25 * std::cos(fx * 23);
      if ((x - 600) * (x - 600) + (y - 300) * (y - 300) < 150 * 150) r = 230 - 40 * fy, g = 180 * fx, b = 40;
      auto noise = [&] { return static_cast<int>(rng() % 9) - 4; };
      std::uint8_t* p = px.data() + (static_cast<std::size_t>(y) * kSize + static_cast<std::size_t>(x)) * 3;
      p[0] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(b) + noise(), 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(g) + noise(), 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(r) + noise(), 0, 255));
    }
  return px;
}

// The reference reduction (the output goes to a separate buffer).
void ReferenceReduce(const std::vector<std::uint8_t>& px, std::vector<std::uint8_t>& out,
                     std::vector<std::uint32_t>& palette) {
  std::unordered_map<std::uint32_t, std::uint32_t> counts;
  const std::size_t n = px.size() / 3;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = px.data() + 3 * i;
    ++counts[p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16)];
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> byCount(counts.begin(), counts.end());
  std::size_t keep = std::min<std::size_t>(256, byCount.size());
  std::partial_sort(byCount.begin(), byCount.begin() + static_cast<std::ptrdiff_t>(keep), byCount.end(),
                    [](const auto& a, const auto& b) { return a.second > b.second; });
  palette.clear();
  for (std::size_t i = 0; i < keep; ++i) palette.push_back(byCount[i].first);
  for (auto& [color, index] : counts) {
    int best = 0, bestDistance = 1 << 30;
    for (std::size_t k = 0; k < palette.size(); ++k) {
      int db = static_cast<int>(color & 0xFF) - static_cast<int>(palette[k] & 0xFF);
      int dg = static_cast<int>((color >> 8) & 0xFF) - static_cast<int>((palette[k] >> 8) & 0xFF);
      int dr = static_cast<int>(color >> 16) - static_cast<int>(palette[k] >> 16);
      int d = dr * dr + dg * dg + db * db;
      if (d < bestDistance) bestDistance = d, best = static_cast<int>(k);
    }
    index = static_cast<std::uint32_t>(best);
  }
  out.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = px.data() + 3 * i;
    out[i] = static_cast<std::uint8_t>(counts[p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16)]);
  }
}

// The time of one run, repeated for at least half a second; `prepare` runs
// before each run and is not counted.
template <class P, class F>
double Seconds(P&& prepare, F&& run) {
  double total = 0;
  int runs = 0;
  while (total < 0.5 || runs < 3) {
    prepare();
    auto start = std::chrono::steady_clock::now();
    run();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++runs;
  }
  return total / runs;
}

}  // namespace

int main() {
  const std::vector<std::uint8_t> photo = MakePhoto();
  const TBitmapInfoHeader h = Header24();
  std::vector<std::uint8_t> work;
  auto fresh = [&] { work = photo; };
  TReducedPalette palette;

  std::vector<std::uint8_t> refOut;
  std::vector<std::uint32_t> refPalette;
  // Ours and the reference in turns, the ratio (reference time / ours) taken pair by pair.
  auto nothing = [] {};
  auto reference = [&] { ReferenceReduce(photo, refOut, refPalette); };
  const TPairedTimes histogram =
      TimePaired(5, fresh, [&] { ReduceTo8Bits(rmHistogram, h, work, palette); }, nothing, reference);
  const TPairedTimes median =
      TimePaired(5, fresh, [&] { ReduceTo8Bits(rmMedianCut, h, work, palette); }, nothing, reference);
  {
    std::unordered_map<std::uint32_t, int> distinct;
    for (std::size_t i = 0; i < photo.size(); i += 3)
      distinct[photo[i] | (photo[i + 1] << 8) | (static_cast<std::uint32_t>(photo[i + 2]) << 16)] = 1;
    std::printf("1024 x 1024 photo-like picture, %zu distinct colours; reference %.1f ms\n", distinct.size(),
                histogram.second * 1e3);
  }
  std::printf("rmHistogram  %7.1f ms  ratio %.2f (goal: at least 1.00)\n", histogram.first * 1e3, histogram.ratio);
  std::printf("rmMedianCut  %7.1f ms  ratio %.2f (goal: at least 1.00)\n", median.first * 1e3, median.ratio);

  const std::pair<const char*, TReductionMethod> others[] = {{"rmTrunc784", rmTrunc784},
                                                             {"rmTrunc666", rmTrunc666},
                                                             {"rmChannelCycle", rmChannelCycle},
                                                             {"rmLuminance", rmLuminance}};
  for (auto [name, method] : others) {
    double t = Seconds(fresh, [&] { ReduceTo8Bits(method, h, work, palette); });
    std::printf("%-14s %7.1f ms  %8.1f Mpixel/s\n", name, t * 1e3, kSize * kSize / t / 1e6);
  }
  return 0;
}
