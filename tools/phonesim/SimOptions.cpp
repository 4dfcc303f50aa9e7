#include "SimOptions.h"

#include <charconv>

#include "SimFrames.h"

namespace {
bool ParseInt(const std::string& s, long min, long max, long& out, int base = 10) {
  if (s.empty()) return false;
  long v = 0;
  const char* end = s.data() + s.size();
  const auto [p, ec] = std::from_chars(s.data(), end, v, base);
  if (ec != std::errc() || p != end || v < min || v > max) return false;
  out = v;
  return true;
}

bool ParseByte(std::string s, std::uint8_t& out) {
  if (s.size() > 2 && (s.compare(0, 2, "0x") == 0 || s.compare(0, 2, "0X") == 0)) s.erase(0, 2);
  long v = 0;
  if (!ParseInt(s, 0, 255, v, 16)) return false;
  out = static_cast<std::uint8_t>(v);
  return true;
}
}  // namespace

std::string SimUsage() {
  return R"(usage: phonesim [options]
Plays a Nokia phone on a pseudo-terminal. Prints the path the host (a Wine COM
port) should open as one line on stdout, then answers until SIGTERM/SIGINT.

Phone:
  --persona NAME       NSE-3, NSE-5, NPE-4 (default), NPW-2, RHV-3 (or the model name)
  --code TEXT          product code reported in the model reply
  --sw TEXT            software version (e.g. "V 05.10")
  --date TEXT          software date (dd-mm-yy)
  --imei TEXT          IMEI, or the ESN of NPW-2
  --hw TEXT            hardware version (4 characters)
  --family N           message set answered: 1 or 2 (5110), 3 (7110), 4 (6310)
  --imei-style S       standard or 6360 (the non-standard identity request)
  --battery PCT        battery level, 0..100
  --signal PCT         signal level, 0..100
  --da-timeout MS      answer only the DA check once none came for MS ms
  --list-personas      print the built-in personas and exit
Link:
  --link KIND          auto (default), fbus (DAU-9P), at (DLR-3/DKU-5: AT switch
                       first), phonet (Bluetooth serial: set-up frame first)
  --media HEX          PhoNet media byte (default 19)
  --seq-start N        first sequence counter of the phone's frames (0..7)
  --push TYPE:HEX[@MS] send this message MS ms after the first reply of each
                       session (e.g. D9:00010042 for the host's auto-reply);
                       repeatable
Faults:
  --mute               receive and log, send nothing (SIGUSR1 toggles)
  --no-acks            answer but never acknowledge
  --corrupt            every FBUS frame sent has a wrong checksum (SIGUSR2 toggles)
  --corrupt-every N    every N-th FBUS frame sent has a wrong checksum
  --reply-delay MS     wait MS ms between the acknowledgement and the reply
  --mute-after N       fall silent after answering N messages
  --ignore TYPE        never answer messages of this type (hex; repeatable)
Line:
  --path PATH          use this existing device instead of creating a pty
  --fd N               use this inherited descriptor instead of creating a pty
  --tcp PORT           listen on 127.0.0.1:PORT instead (0: any free port; the
                       first line shows it) and play an infrared phone: PhoNet
                       with media 14 unless --link or --media say otherwise
  --symlink PATH       also create PATH as a symlink to the pty (removed at exit)
  --resync-ms MS       give up a partial frame after MS quiet ms (default 300)
  --exit-on-close[=MS] exit when the host has closed the line (for MS ms)
  --lifetime S         exit with status 3 after S seconds, whatever happens
  --die-with-parent    exit when the process that started phonesim ends
Log:
  --log FILE           one line per event: received frames as hex, and
                       "AT <line>", "SKIP <hex>", "BAD <hex>", "OPEN", "CLOSE"
  --log-sent           also log what is sent, as "TX <hex>"
  -v, --verbose        copy the log to stderr
)";
}

std::string SimPersonaList() {
  std::string out;
  for (const TSimPersonaData& p : SimPersonas()) {
    out += p.Name + "\t" + p.Model + "\tfamily " + std::to_string(p.Family) + "\t" +
           (p.ImeiStyle == TSimImeiStyle::is6360 ? "ESN " : "IMEI ") + p.Imei + "\t" + p.SwVersion + "\t" + p.SwDate +
           "\n";
  }
  return out;
}

bool SimParseOptions(const std::vector<std::string>& args, TSimOptions& out, std::string& error) {
  out = TSimOptions();
  out.Persona = *SimFindPersona("NPE-4");
  // Persona overrides apply after the persona is chosen, whatever their order.
  std::vector<std::pair<std::string, std::string>> overrides;
  bool linkGiven = false;
  bool mediaGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (name.compare(0, 2, "--") == 0) {
      const std::size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.erase(eq);
        hasValue = true;
      }
    }
    auto need = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto number = [&](long min, long max, long& v) -> bool {
      if (!need()) return false;
      if (!ParseInt(value, min, max, v)) {
        error = name + ": not a number from " + std::to_string(min) + " to " + std::to_string(max) + ": " + value;
        return false;
      }
      return true;
    };
    long v = 0;
    if (name == "-h" || name == "--help") {
      out.Help = true;
    } else if (name == "--list-personas") {
      out.ListPersonas = true;
    } else if (name == "--persona" || name == "-p") {
      if (!need()) return false;
      const TSimPersonaData* p = SimFindPersona(value);
      if (!p) {
        error = "unknown persona: " + value + "; --list-personas shows them";
        return false;
      }
      out.Persona = *p;
    } else if (name == "--code" || name == "--sw" || name == "--date" || name == "--imei" || name == "--hw" ||
               name == "--imei-style") {
      if (!need()) return false;
      overrides.emplace_back(name, value);
    } else if (name == "--family") {
      if (!number(0, 4, v)) return false;
      overrides.emplace_back(name, value);
    } else if (name == "--battery" || name == "--signal") {
      if (!number(0, 100, v)) return false;
      overrides.emplace_back(name, value);
    } else if (name == "--da-timeout") {
      if (!number(0, 3600000, v)) return false;
      out.DaTimeoutMs = static_cast<int>(v);
    } else if (name == "--link") {
      if (!need()) return false;
      if (!SimParseLinkKind(value, out.Link.Kind)) {
        error = "unknown link kind: " + value;
        return false;
      }
      linkGiven = true;
    } else if (name == "--media") {
      if (!need()) return false;
      if (!ParseByte(value, out.Link.PhonetMedia)) {
        error = "--media: not a hex byte: " + value;
        return false;
      }
      mediaGiven = true;
    } else if (name == "--seq-start") {
      if (!number(0, 7, v)) return false;
      out.Link.SeqStart = static_cast<std::uint8_t>(v);
    } else if (name == "--mute") {
      out.Link.Mute = true;
    } else if (name == "--no-acks") {
      out.Link.NoAcks = true;
    } else if (name == "--corrupt") {
      out.Link.Corrupt = true;
    } else if (name == "--corrupt-every") {
      if (!number(1, 1000000, v)) return false;
      out.Link.CorruptEvery = static_cast<int>(v);
    } else if (name == "--reply-delay") {
      if (!number(0, 600000, v)) return false;
      out.Link.ReplyDelayMs = static_cast<int>(v);
    } else if (name == "--mute-after") {
      if (!number(0, 1000000000, v)) return false;
      out.Link.MuteAfter = static_cast<int>(v);
    } else if (name == "--ignore") {
      if (!need()) return false;
      std::uint8_t t = 0;
      if (!ParseByte(value, t)) {
        error = "--ignore: not a hex message type: " + value;
        return false;
      }
      out.Link.Ignore.insert(t);
    } else if (name == "--push") {
      // TYPE:HEX[@MS]
      if (!need()) return false;
      TSimPush push;
      const std::size_t colon = value.find(':');
      const std::size_t at = value.find('@');
      long delay = 0;
      if (colon == std::string::npos || !ParseByte(value.substr(0, colon), push.Type) ||
          !SimParseHex(value.substr(colon + 1, at == std::string::npos ? std::string::npos : at - colon - 1),
                       push.Payload) ||
          push.Payload.size() > 0xFFFF ||
          (at != std::string::npos && !ParseInt(value.substr(at + 1), 0, 3600000, delay))) {
        error = "--push: TYPE:HEX[@MS] expected, not " + value;
        return false;
      }
      push.DelayMs = static_cast<int>(delay);
      out.Link.Push.push_back(std::move(push));
    } else if (name == "--path") {
      if (!need()) return false;
      out.Path = value;
    } else if (name == "--fd") {
      if (!number(0, 65535, v)) return false;
      out.Fd = static_cast<int>(v);
    } else if (name == "--tcp") {
      if (!number(0, 65535, v)) return false;
      out.TcpPort = static_cast<int>(v);
    } else if (name == "--symlink") {
      if (!need()) return false;
      out.Symlink = value;
    } else if (name == "--resync-ms") {
      if (!number(10, 600000, v)) return false;
      out.ResyncMs = static_cast<int>(v);
    } else if (name == "--exit-on-close") {
      out.ExitOnClose = true;
      if (hasValue) {
        if (!ParseInt(value, 0, 3600000, v)) {
          error = "--exit-on-close: not a number of milliseconds: " + value;
          return false;
        }
        out.CloseGraceMs = static_cast<int>(v);
      }
    } else if (name == "--lifetime") {
      if (!number(1, 86400, v)) return false;
      out.LifetimeMs = static_cast<int>(v * 1000);
    } else if (name == "--die-with-parent") {
      out.DieWithParent = true;
    } else if (name == "--log") {
      if (!need()) return false;
      out.LogFile = value;
    } else if (name == "--log-sent") {
      out.LogSent = true;
    } else if (name == "-v" || name == "--verbose") {
      out.Verbose = true;
    } else {
      error = "unknown option: " + args[i];
      return false;
    }
  }
  if (!out.Path.empty() && out.Fd >= 0) {
    error = "--path and --fd exclude each other";
    return false;
  }
  if (out.TcpPort >= 0 && (!out.Path.empty() || out.Fd >= 0)) {
    error = "--tcp excludes --path and --fd";
    return false;
  }
  if (!out.Symlink.empty() && (!out.Path.empty() || out.Fd >= 0 || out.TcpPort >= 0)) {
    error = "--symlink goes with the simulator's own pty only";
    return false;
  }
  if (out.TcpPort >= 0) {
    // A TCP connection stands in for an infrared socket: PhoNet, media 0x14.
    if (!linkGiven) out.Link.Kind = TSimLinkKind::lkPhonet;
    if (!mediaGiven) out.Link.PhonetMedia = 0x14;
  }

  TSimPersonaData& p = out.Persona;
  for (const auto& [name, value] : overrides) {
    if (name == "--code") {
      p.Code = value;
    } else if (name == "--sw") {
      p.SwVersion = value;
    } else if (name == "--date") {
      p.SwDate = value;
    } else if (name == "--imei") {
      p.Imei = value;
    } else if (name == "--hw") {
      p.HwVersion = value;
    } else if (name == "--family") {
      p.Family = std::stoi(value);
    } else if (name == "--battery") {
      p.Battery = std::stoi(value);
    } else if (name == "--signal") {
      p.Signal = std::stoi(value);
    } else if (name == "--imei-style") {
      if (value == "standard") {
        p.ImeiStyle = TSimImeiStyle::isStandard;
      } else if (value == "6360") {
        p.ImeiStyle = TSimImeiStyle::is6360;
      } else {
        error = "--imei-style: standard or 6360, not " + value;
        return false;
      }
    }
  }
  // Texts travel as lines of the model reply and as fixed fields: a line end
  // inside would shift every later field.
  for (const std::string* t : {&p.Code, &p.SwVersion, &p.SwDate}) {
    if (t->find('\n') != std::string::npos) {
      error = "persona texts must not contain line ends";
      return false;
    }
  }
  if (p.Imei.size() > 200 || p.HwVersion.size() > 200 || p.Code.size() > 200 || p.SwVersion.size() > 200 ||
      p.SwDate.size() > 200) {
    error = "persona texts are limited to 200 characters";
    return false;
  }
  return true;
}
