#include "LinkFrames.h"

#include "ByteReader.h"
#include "ByteWriter.h"

namespace {

constexpr std::size_t kFrameHeader = 6;

std::string Header(std::uint8_t start, std::uint8_t msgType, std::size_t length) {
  if (length > 0xFFFF) throw EFrameTooLong("frame block of " + std::to_string(length) + " bytes");
  std::string h;
  ByteWriter w(h);
  w.U8(start);
  w.U8(kDevicePhone);
  w.U8(kDeviceHost);
  w.U8(msgType);
  w.U16BE(static_cast<std::uint16_t>(length));
  return h;
}

}  // namespace

// --- FBUS ----------------------------------------------------------------------------------------

std::string FbusChecksum(std::string_view data) {
  std::uint8_t even = 0, odd = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(data[i]);
    if (i % 2 == 0) {
      even ^= b;
    } else {
      odd ^= b;
    }
  }
  return {static_cast<char>(even), static_cast<char>(odd)};
}

std::string BuildFbusFrame(std::uint8_t msgType, std::string_view block) {
  std::string frame = Header(kFbusFrameId, msgType, block.size());
  frame.append(block);
  if (block.size() % 2 != 0) frame += '\0';
  frame += FbusChecksum(frame);
  return frame;
}

std::string FbusPreamble() {
  std::string p(kFbusPreambleLength, '\x55');
  p += '\xC1';
  return p;
}

bool FbusNeedsPreamble(std::uint8_t linkMethod, std::uint8_t msgType) {
  return linkMethod == kLinkFbusCable && msgType != kMsgAck && msgType != kMsgNoPreamble;
}

std::string BuildFbusAck(std::uint8_t msgType, std::uint8_t seq) {
  const char block[2] = {static_cast<char>(msgType), static_cast<char>(seq & 0x0F)};
  return BuildFbusFrame(kMsgAck, std::string_view(block, 2));
}

std::optional<std::string> FbusAckFor(std::string_view frame) {
  const ByteReader r(frame);
  if (!r.Fits(0, kFrameHeader)) return std::nullopt;
  const std::size_t length = r.U16BEAt(4);
  if (length == 0 || !r.Fits(kFrameHeader, length)) return std::nullopt;
  return BuildFbusAck(r.U8At(3), r.U8At(kFrameHeader + length - 1));
}

std::uint8_t TFbusSequence::NextByte(bool first) {
  const auto byte = static_cast<std::uint8_t>(first ? (counter_ | 0x40) : counter_);
  counter_ = (counter_ + 1) & 7;
  return byte;
}

std::vector<std::string> TFbusSequence::SplitMessage(std::string_view payload) {
  std::vector<std::string> blocks;
  const std::size_t count = payload.empty() ? 1 : (payload.size() - 1) / kFbusChunkSize + 1;
  for (std::size_t i = 0; i < count; ++i) {
    std::string block(payload.substr(i * kFbusChunkSize, kFbusChunkSize));
    block += static_cast<char>((count - i) & 0xFF);
    block += static_cast<char>(NextByte(i == 0));
    blocks.push_back(std::move(block));
  }
  return blocks;
}

bool FbusChecksumValid(std::string_view frame) {
  if (frame.size() < kFrameHeader + 2) return false;
  const ByteReader r(frame);
  const std::size_t body = frame.size() - 2;
  const std::string sum = FbusChecksum(frame.substr(0, body));
  return r.U8At(body) == static_cast<std::uint8_t>(sum[0]) && r.U8At(body + 1) == static_cast<std::uint8_t>(sum[1]);
}

std::vector<TWireFrame> TFrameEncoder::Encode(std::uint8_t msgType, std::string_view payload) {
  if (IsPhonetLink(linkMethod_))
    return {TWireFrame{{}, BuildPhonetFrame(PhonetMediaOf(linkMethod_), msgType, payload)}};
  const std::string preamble = FbusNeedsPreamble(linkMethod_, msgType) ? FbusPreamble() : std::string();
  if (msgType == kMsgAck) return {TWireFrame{preamble, BuildFbusFrame(msgType, payload)}};
  std::vector<TWireFrame> frames;
  for (const std::string& block : sequence_.SplitMessage(payload)) {
    frames.push_back(TWireFrame{preamble, BuildFbusFrame(msgType, block)});
  }
  return frames;
}

// --- PhoNet ---------------------------------------------------------------------------------------

std::string BuildPhonetFrame(std::uint8_t media, std::uint8_t msgType, std::string_view payload) {
  std::string frame = Header(media, msgType, payload.size());
  frame.append(payload);
  return frame;
}

std::uint8_t PhonetMediaOf(std::uint8_t linkMethod) {
  switch (linkMethod) {
    case kLinkInfrared:
      return kPhonetMediaInfrared;
    case kLinkBluetooth:
      return kPhonetMediaBluetooth;
    case kLinkDku2:
      return kPhonetMediaDku2;
    default:
      return 0;
  }
}

bool IsPhonetLink(std::uint8_t linkMethod) {
  return PhonetMediaOf(linkMethod) != 0;
}

std::string BluetoothSetupFrame() {
  return BuildPhonetFrame(kPhonetMediaBluetooth, 0xD0, std::string_view("\x04", 1));
}

// --- Set-up failures -----------------------------------------------------------------------------

std::uint16_t LinkSetupFailureCode(std::uint8_t linkMethod, std::uint32_t error) {
  switch (error) {
    case 5:
      return kFailPortInUse;
    case 2:
      return kFailNoDevice;
    case 4:
      if (linkMethod == kLinkFbusCable || linkMethod == kLinkBluetooth) return kFailNoIdentity;
      return kFailLinkSetup;
    default:
      return kFailLinkSetup;
  }
}

std::optional<std::uint32_t> ErrorNumberInMessage(std::string_view message) {
  const std::size_t colon = message.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::size_t i = colon + 1;
  while (i < message.size() && message[i] == ' ') ++i;
  std::uint32_t value = 0;
  std::size_t digits = 0;
  for (; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i, ++digits) {
    if (digits == 9) return std::nullopt;  // no Windows error number is this long
    value = value * 10 + static_cast<std::uint32_t>(message[i] - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

// --- Receiving ------------------------------------------------------------------------------------

TFrameCutter::TFrameCutter(std::uint8_t linkMethod)
    : fbus_(linkMethod == kLinkFbusCable || linkMethod == kLinkAtSwitch),
      start_(fbus_ ? kFbusFrameId : kPhonetMediaBluetooth) {}

TFrameCutter::TState TFrameCutter::Check() const {
  const ByteReader r(buffer_);
  if (!r.Fits(0, kFrameHeader)) return TState::tsIncomplete;
  const std::size_t length = r.U16BEAt(4);
  const std::size_t size = buffer_.size();
  if (!fbus_) return size == kFrameHeader + length ? TState::tsComplete : TState::tsIncomplete;

  if (size == kFrameHeader) return TState::tsIncomplete;  // a frame holds at least its checksum
  const std::uint8_t type = r.U8At(3);
  if (type == kMsgFixed40) return size == 40 ? TState::tsComplete : TState::tsIncomplete;
  if (type == kMsgAck && size == 10) return TState::tsComplete;
  if (type != kMsgAck && length > kFbusMaxReceivedBlock) return TState::tsGarbage;
  const std::size_t whole = kFrameHeader + length + (length % 2) + 2;
  return size == whole ? TState::tsComplete : TState::tsIncomplete;
}

std::vector<std::string> TFrameCutter::Feed(std::string_view bytes) {
  std::vector<std::string> frames;
  for (char next : bytes) {
    // Bytes still to look at: the received one, and after a false start the bytes
    // that were held behind it.
    std::string pending(1, next);
    std::size_t i = 0;
    while (i < pending.size()) {
      const auto b = static_cast<std::uint8_t>(pending[i++]);
      if (buffer_.empty()) {
        if (b == start_) buffer_ += static_cast<char>(b);
        continue;
      }
      if (buffer_.size() == 1 && b != kDeviceHost) {
        buffer_.clear();
        continue;
      }
      buffer_ += static_cast<char>(b);
      const TState state = Check();
      if (state == TState::tsIncomplete) continue;
      if (state == TState::tsComplete && (!fbus_ || FbusChecksumValid(buffer_))) {
        frames.push_back(std::move(buffer_));
        buffer_.clear();
        continue;
      }
      if (state == TState::tsComplete) ++badFrames_;
      // Not a frame after all: look for the next start after this one's first byte.
      std::string rest = buffer_.substr(1);
      rest.append(pending, i, std::string::npos);
      pending = std::move(rest);
      i = 0;
      buffer_.clear();
    }
  }
  return frames;
}

// --- Received-frame decisions ---------------------------------------------------------------------

std::optional<std::string> AutoReplyPayload(std::string_view frame) {
  const ByteReader r(frame);
  if (!r.Fits(0, 10) || r.U8At(3) != kMsgAutoReply) return std::nullopt;
  switch (r.U8At(9)) {
    case 0x40:
      return std::string("\x00\x11\x00\x41\x00\x00", 6);
    case 0x42:
      return std::string("\x00\x11\x00\x43\x00\x00", 6);
    case 0x61:
      return std::string("\x00\x11\x00\x60\x00\x05\x01\x00\x00\xFF\xFF", 11);
    default:
      return std::nullopt;
  }
}

TReceivedFrameAction DecideReceivedFrame(std::uint8_t linkMethod, std::string_view frame) {
  TReceivedFrameAction action;
  const ByteReader r(frame);
  if (!r.Fits(0, 4)) return action;
  const std::uint8_t type = r.U8At(3);
  if (type == kMsgAck && frame.size() == 10) return action;  // the phone's acknowledgement of our frame
  action.dispatch = true;
  if (linkMethod == kLinkFbusCable || linkMethod == kLinkAtSwitch) {
    if (type != kMsgFixed40) action.ack = FbusAckFor(frame);
  } else if (linkMethod != kLinkBluetooth) {
    return action;  // infrared and DKU-2 frames get no replies from the link layer
  }
  if (type == kMsgAutoReply) action.autoReply = AutoReplyPayload(frame);
  return action;
}
