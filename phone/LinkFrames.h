// Wire formats of the Nokia links: FBUS frames over serial cables (sequence
// numbers, acknowledgements, XOR checksums, the 0x55 preamble, splitting long
// messages into blocks), PhoNet frames over Bluetooth serial, infrared and DKU-2,
// the AT switch of DLR-3 cables and DKU-5 ports, and cutting received serial
// bytes into frames. No I/O here: the link sender writes and reads the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Link methods chosen by the finder.
inline constexpr std::uint8_t kLinkFbusCable = 0;  // FBUS over a serial cable (DAU-9P)
inline constexpr std::uint8_t kLinkAtSwitch = 1;   // AT switch, then FBUS (DLR-3, DKU-5)
inline constexpr std::uint8_t kLinkInfrared = 2;   // PhoNet over an IrDA socket
inline constexpr std::uint8_t kLinkBluetooth = 3;  // PhoNet over a Bluetooth serial port
inline constexpr std::uint8_t kLinkDku2 = 5;       // PhoNet over a DKU-2 USB device

// Frame start bytes.
inline constexpr std::uint8_t kFbusFrameId = 0x1E;
inline constexpr std::uint8_t kPhonetMediaInfrared = 0x14;
inline constexpr std::uint8_t kPhonetMediaBluetooth = 0x19;
inline constexpr std::uint8_t kPhonetMediaDku2 = 0x1B;
// Device addresses: the phone and this program.
inline constexpr std::uint8_t kDevicePhone = 0x00;
inline constexpr std::uint8_t kDeviceHost = 0x10;

// Message types the link layer itself looks at.
inline constexpr std::uint8_t kMsgAck = 0x7F;
inline constexpr std::uint8_t kMsgNoPreamble = 0xF0;  // sent without the 0x55 preamble
inline constexpr std::uint8_t kMsgFixed40 = 0xF1;     // a fixed 40-byte frame, never acknowledged
inline constexpr std::uint8_t kMsgAutoReply = 0xD9;

// Longest FBUS block sent in one frame before a message is split.
inline constexpr std::size_t kFbusChunkSize = 120;
// Longest FBUS block a received frame header may announce; a longer one is taken
// for line noise, so garbage cannot hold the receiver up for 64 KB.
inline constexpr std::size_t kFbusMaxReceivedBlock = 512;
// Bytes of the preamble written before most frames on link method 0.
inline constexpr std::size_t kFbusPreambleLength = 200;

// A frame that cannot be expressed on the wire (a block over 65535 bytes).
class EFrameTooLong : public std::length_error {
 public:
  using std::length_error::length_error;
};

// --- FBUS ----------------------------------------------------------------------------------------

// 1E 00 10 type len(2, big-endian) block [00 when the block length is odd] checksum(2).
std::string BuildFbusFrame(std::uint8_t msgType, std::string_view block);
// The two checksum bytes over `data`: XOR of the bytes at even offsets, XOR of those at odd ones.
std::string FbusChecksum(std::string_view data);
// 200 x 0x55, then 0xC1.
std::string FbusPreamble();
// True when a frame of this type goes out after the preamble on this link method.
bool FbusNeedsPreamble(std::uint8_t linkMethod, std::uint8_t msgType);
// The acknowledgement of a frame of `msgType` whose sequence byte is `seq`.
std::string BuildFbusAck(std::uint8_t msgType, std::uint8_t seq);
// The acknowledgement of a received FBUS frame (type and the last block byte, its
// sequence byte); nothing when the frame is too short to carry a sequence byte.
std::optional<std::string> FbusAckFor(std::string_view frame);

// The FBUS sequence counter of one link: 0x60 at first, then 0x41 ... 0x47, 0x40, 0x41, ...
class TFbusSequence {
 public:
  // The blocks of one message: chunks of at most 120 bytes, each followed by the
  // number of blocks left (this one included) and its sequence byte.
  std::vector<std::string> SplitMessage(std::string_view payload);
  int Counter() const { return counter_; }

 private:
  std::uint8_t NextByte(bool first);
  int counter_ = 0x60;
};

// One frame as it goes on the wire: the preamble to write before it (empty when
// none) and the frame. The two are written under one send lock, back to back.
struct TWireFrame {
  std::string preamble;
  std::string frame;

  bool operator==(const TWireFrame&) const = default;
};

// Turns phone messages into the frames of one link: FBUS on methods 0 and 1
// (acknowledgements as they are, other messages split into sequenced blocks, the
// preamble on method 0), one PhoNet frame on the other methods.
class TFrameEncoder {
 public:
  explicit TFrameEncoder(std::uint8_t linkMethod) : linkMethod_(linkMethod) {}
  std::vector<TWireFrame> Encode(std::uint8_t msgType, std::string_view payload);
  std::uint8_t LinkMethod() const { return linkMethod_; }

 private:
  std::uint8_t linkMethod_;
  TFbusSequence sequence_;
};

// True when the bytes form one whole FBUS frame (start byte, length, padding) whose checksum matches.
bool FbusChecksumValid(std::string_view frame);

// --- PhoNet ---------------------------------------------------------------------------------------

// media 00 10 type len(2, big-endian) payload.
std::string BuildPhonetFrame(std::uint8_t media, std::uint8_t msgType, std::string_view payload);
// The media byte of a PhoNet link method (0 for the FBUS methods).
std::uint8_t PhonetMediaOf(std::uint8_t linkMethod);
bool IsPhonetLink(std::uint8_t linkMethod);
// The frame written when a Bluetooth serial link is set up: 19 00 10 D0 00 01 04.
std::string BluetoothSetupFrame();

// --- AT switch -----------------------------------------------------------------------------------

// "at&f" CR LF NUL, sent at 19200 baud.
inline constexpr std::string_view kAtSwitchReset{"at&f\r\n\0", 7};
// "at*nokiafbus" CR LF NUL, which switches the cable to FBUS.
inline constexpr std::string_view kAtSwitchFbus{"at*nokiafbus\r\n\0", 15};
// Eight 0x55, written at 115200 baud once the cable has switched.
inline constexpr std::string_view kAtSwitchSync{"UUUUUUUU", 8};
// Bytes of the replies read back and dropped after each command.
inline constexpr std::size_t kAtSwitchResetReply = 10;
inline constexpr std::size_t kAtSwitchFbusReply = 20;

// --- Set-up failures -----------------------------------------------------------------------------

// Failure codes of a link set-up.
inline constexpr std::uint16_t kFailAtSwitchWrite = 10;
inline constexpr std::uint16_t kFailPortInUse = 11;
inline constexpr std::uint16_t kFailNoDevice = 12;
inline constexpr std::uint16_t kFailNoIdentity = 13;
inline constexpr std::uint16_t kFailLinkSetup = 20;

// The failure code of a serial link set-up that failed with the Windows error
// `error` (0 when none is known): 5 gives 11, 2 gives 12, 4 gives 13 on methods 0
// and 3; anything else 20.
std::uint16_t LinkSetupFailureCode(std::uint8_t linkMethod, std::uint32_t error);
// The Windows error number carried in a set-up message such as "Unable to open com
// port: 5": the decimal number after the first colon and its blanks.
std::optional<std::uint32_t> ErrorNumberInMessage(std::string_view message);

// --- Receiving ------------------------------------------------------------------------------------

// Cuts the bytes received on a serial link (FBUS on methods 0 and 1, PhoNet on
// method 3) into frames. Bytes before a start byte are dropped; an FBUS frame is
// complete by its full 16-bit length and is kept only when its checksum matches;
// on a bad checksum or an impossible header the cutter looks for the next start
// byte inside the bytes it held, so garbage costs no following frame.
// Not thread-safe: the link sender guards it when two threads feed or read it.
class TFrameCutter {
 public:
  explicit TFrameCutter(std::uint8_t linkMethod);

  // Takes the next received bytes; returns the frames they completed, in order.
  std::vector<std::string> Feed(std::string_view bytes);
  // The frame being assembled.
  const std::string& Pending() const { return buffer_; }
  void Clear() { buffer_.clear(); }
  // Candidate frames dropped because their checksum did not match.
  std::size_t BadFrames() const { return badFrames_; }
  std::uint8_t StartByte() const { return start_; }

 private:
  enum class TState { tsIncomplete, tsComplete, tsGarbage };
  TState Check() const;

  bool fbus_;
  std::uint8_t start_;
  std::string buffer_;
  std::size_t badFrames_ = 0;
};

// --- Received-frame decisions ---------------------------------------------------------------------

// What the sender does with a complete received frame.
struct TReceivedFrameAction {
  bool dispatch = false;                 // hand it to the phone (false for the phone's own acknowledgements)
  std::optional<std::string> ack;        // FBUS acknowledgement frame to send first
  std::optional<std::string> autoReply;  // payload of a type 0xD9 message to send next
};
TReceivedFrameAction DecideReceivedFrame(std::uint8_t linkMethod, std::string_view frame);

// The payload of the automatic reply to a received frame of type 0xD9, chosen by
// the byte at offset 9; nothing for other bytes or a frame too short to carry one.
std::optional<std::string> AutoReplyPayload(std::string_view frame);
