// Wire formats the simulated phone speaks: FBUS frames (serial cables) and
// PhoNet frames (Bluetooth serial, later infrared and DKU-2), with the FBUS
// XOR checksums, sequence bytes and block splitting, and the hex text used in
// the simulator's log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Addresses on the wire.
constexpr std::uint8_t kSimPhoneAddr = 0x00;
constexpr std::uint8_t kSimHostAddr = 0x10;

// Frame start bytes.
constexpr std::uint8_t kSimFbusStart = 0x1E;
constexpr std::uint8_t kSimMediaIrda = 0x14;
constexpr std::uint8_t kSimMediaBluetooth = 0x19;
constexpr std::uint8_t kSimMediaDku2 = 0x1B;

// Message types with a meaning at the link layer.
constexpr std::uint8_t kSimTypeAck = 0x7F;
constexpr std::uint8_t kSimTypePhonetSetup = 0xD0;

// Longest FBUS block the phone sends in one frame before splitting.
constexpr std::size_t kSimFbusChunk = 120;

// The two FBUS checksum bytes over `bytes`: XOR of the bytes at even offsets,
// then XOR of the bytes at odd offsets.
std::uint16_t SimFbusChecksum(std::string_view bytes);

// One FBUS frame: 1E, receiver, sender, type, block length (big-endian),
// block, a 00 pad when the length is odd, the two checksum bytes.
std::string SimBuildFbusFrame(std::uint8_t receiver, std::uint8_t sender, std::uint8_t type, std::string_view block);

// An FBUS acknowledgement frame of `type` / `seq` (sent to `receiver`).
std::string SimBuildFbusAck(std::uint8_t receiver, std::uint8_t sender, std::uint8_t type, std::uint8_t seq);

// One PhoNet frame: media, receiver, sender, type, payload length
// (big-endian), payload. Payloads over 65535 bytes are a programming error.
std::string SimBuildPhonetFrame(std::uint8_t media, std::uint8_t receiver, std::uint8_t sender, std::uint8_t type,
                                std::string_view payload);

// Cuts a message payload into FBUS blocks: each block is a chunk of at most
// 120 bytes, the count of blocks left (this one included) and a sequence
// byte. `counter` (0..7) is the sender's sequence counter; the first block
// carries counter | 0x40, later ones the plain counter, and the counter
// advances by one (mod 8) per block.
std::vector<std::string> SimSplitFbusBlocks(std::string_view payload, std::uint8_t& counter);

// "1E 00 10 D1" style text, upper-case, one blank between bytes.
std::string SimHex(std::string_view bytes);
// Like SimHex, but runs of 4 or more equal bytes are written "55*200".
std::string SimHexRuns(std::string_view bytes);
// Parses hex text ("1E0010", "1E 00 10", "1e:00:10"); false on a stray
// character or an odd digit count.
bool SimParseHex(std::string_view text, std::string& out);

// Builds a byte string from a list of byte values.
std::string SimBytes(std::initializer_list<int> bytes);
