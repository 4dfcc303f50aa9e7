// Feeds arbitrary bytes, in arbitrary read sizes, to the phone simulator's
// frame cutter and link session. Invariants: every frame reported is whole
// (its header, length and, for FBUS, its checksum agree), no input byte is
// reported twice except inside a bad frame, the cutter never holds more than
// one frame's worth of bytes, and replies are well-formed frames.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SimCutter.h"
#include "SimFrames.h"
#include "SimLink.h"
#include "SimPersona.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckEvent(const TSimEvent& e) {
  const std::string& f = e.Bytes;
  switch (e.Kind) {
    case TSimEventKind::seFrame:
    case TSimEventKind::seBadFrame: {
      Check(f.size() >= 6);
      const std::size_t len = (static_cast<std::uint8_t>(f[4]) << 8) | static_cast<std::uint8_t>(f[5]);
      if (static_cast<std::uint8_t>(f[0]) == kSimFbusStart) {
        Check(f.size() == 6 + len + len % 2 + 2);
        const std::uint16_t cs = SimFbusChecksum(std::string_view(f).substr(0, f.size() - 2));
        const std::uint16_t got = static_cast<std::uint16_t>((static_cast<std::uint8_t>(f[f.size() - 2]) << 8) |
                                                             static_cast<std::uint8_t>(f[f.size() - 1]));
        Check((cs == got) == (e.Kind == TSimEventKind::seFrame));
      } else {
        Check(e.Kind == TSimEventKind::seFrame && f.size() == 6 + len);
      }
      break;
    }
    case TSimEventKind::seSkipped:
      Check(!f.empty() && f.size() <= TSimCutter::kMaxSkippedRun);
      break;
    case TSimEventKind::seAtLine:
      Check(f.size() >= 2 && f.size() <= TSimCutter::kMaxAtLine);
      break;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t mode = data[0];
  const std::size_t step = 1 + data[1] % 64;
  const std::string_view in(reinterpret_cast<const char*>(data + 2), size - 2);

  TSimCutter cutter;
  cutter.AcceptAtLines(mode & 1);
  cutter.AcceptPhonet(mode & 2, 0x19);
  cutter.AcceptFbus((mode & 4) || !(mode & 3));
  std::size_t reported = 0;
  for (std::size_t i = 0; i < in.size(); i += step) {
    for (const TSimEvent& e : cutter.Feed(in.substr(i, step))) {
      CheckEvent(e);
      if (e.Kind != TSimEventKind::seBadFrame) reported += e.Bytes.size();
    }
  }
  for (const TSimEvent& e : cutter.Flush()) {
    CheckEvent(e);
    if (e.Kind != TSimEventKind::seBadFrame) reported += e.Bytes.size();
  }
  Check(reported <= in.size());
  Check(!cutter.Pending());

  // The whole session: persona, acknowledgements, AT switch, replies.
  TSimPersona phone(SimPersonas()[mode % SimPersonas().size()]);
  TSimLinkOptions opt;
  opt.Kind = static_cast<TSimLinkKind>((mode >> 3) % 4);
  opt.ReplyDelayMs = mode & 0x20 ? 10 : 0;
  TSimLink link(phone, opt, [](const std::string&) {});
  std::int64_t now = 0;
  for (std::size_t i = 0; i < in.size(); i += step) {
    link.Receive(in.substr(i, step), now, 1700000000);
    now += 5;
    for (const TSimOutput& o : link.TakeDue(now)) {
      Check(!o.Bytes.empty());
      if (static_cast<std::uint8_t>(o.Bytes[0]) == kSimFbusStart) {
        const std::size_t len = (static_cast<std::uint8_t>(o.Bytes[4]) << 8) | static_cast<std::uint8_t>(o.Bytes[5]);
        Check(o.Bytes.size() == 6 + len + len % 2 + 2 && len <= kSimFbusChunk + 2);
      }
    }
  }
  link.Idle(now, 1700000000);
  return 0;
}
