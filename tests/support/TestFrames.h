// Frame builders for the tests, written from the wire format alone and kept
// apart from the program's and the simulator's frame code, so that a fault
// there shows up as a difference here instead of being copied.
//
// FBUS:   1E dest src type len(2, big end) block [pad to even] checksum(2)
// PhoNet: media dest src type len(2, big end) payload
// The phone's address is 00 and the host's 10.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::uint8_t kTestPhoneAddress = 0x00;
inline constexpr std::uint8_t kTestHostAddress = 0x10;

// The six header bytes every frame starts with; `start` is 1E on FBUS and the
// medium on PhoNet.
inline std::string FrameHeader(std::uint8_t start, std::uint8_t dest, std::uint8_t src, std::uint8_t type,
                               std::size_t length) {
  return std::string{static_cast<char>(start),
                     static_cast<char>(dest),
                     static_cast<char>(src),
                     static_cast<char>(type),
                     static_cast<char>((length >> 8) & 0xFF),
                     static_cast<char>(length & 0xFF)};
}

// The FBUS checksum of `bytes`: the XOR of the bytes at even offsets, then
// the XOR of those at odd offsets.
inline std::string FbusChecksumOf(std::string_view bytes) {
  unsigned char even = 0, odd = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) (i % 2 ? odd : even) ^= static_cast<unsigned char>(bytes[i]);
  return std::string{static_cast<char>(even), static_cast<char>(odd)};
}

// A whole FBUS frame around `block` (the block carries its own trailing
// blocks-left and sequence bytes when it has them).
inline std::string FbusFrame(std::uint8_t dest, std::uint8_t src, std::uint8_t type, std::string_view block) {
  std::string f = FrameHeader(0x1E, dest, src, type, block.size());
  f += block;
  if (block.size() % 2) f += '\0';
  return f + FbusChecksumOf(f);
}

// An FBUS frame as the phone sends it: 1E 10 00 ...
inline std::string PhoneFbusFrame(std::uint8_t type, std::string_view block) {
  return FbusFrame(kTestHostAddress, kTestPhoneAddress, type, block);
}

// A one-block message as the phone sends it: the payload, 01 (the last
// block) and the sequence byte.
inline std::string PhoneFbusMessage(std::uint8_t type, std::string_view payload, std::uint8_t seq) {
  std::string block(payload);
  block += '\x01';
  block += static_cast<char>(seq);
  return PhoneFbusFrame(type, block);
}

// A one-block message as the host sends it: 1E 00 10 ..., payload, 01, sequence.
inline std::string HostFbusMessage(std::uint8_t type, std::string_view payload, std::uint8_t seq) {
  std::string block(payload);
  block += '\x01';
  block += static_cast<char>(seq);
  return FbusFrame(kTestPhoneAddress, kTestHostAddress, type, block);
}

// A PhoNet frame on medium `media` (19 on a cable, 14 on infrared, 1B on Bluetooth).
inline std::string PhonetFrame(std::uint8_t media, std::uint8_t dest, std::uint8_t src, std::uint8_t type,
                               std::string_view payload) {
  return FrameHeader(media, dest, src, type, payload.size()) + std::string(payload);
}

// A PhoNet frame as the phone sends it: media 10 00 ...
inline std::string PhonePhonetFrame(std::uint8_t media, std::uint8_t type, std::string_view payload) {
  return PhonetFrame(media, kTestHostAddress, kTestPhoneAddress, type, payload);
}

// A PhoNet frame as the host sends it: media 00 10 ...
inline std::string HostPhonetFrame(std::uint8_t media, std::uint8_t type, std::string_view payload) {
  return PhonetFrame(media, kTestPhoneAddress, kTestHostAddress, type, payload);
}
