// Checksums, digest, cipher and Base64 against the values Python's zlib,
// binascii, hashlib and base64 and an independent model of the cipher give
// (ErrorReportVectors.inc, made by make-vectors.py); inflating and the ZIP writer.
#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "EBase64.h"
#include "EEncrypt.h"
#include "EHash.h"
#include "EZip.h"
#include "EZlib2.h"

namespace {
#include "ErrorReportVectors.inc"

std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

TEST(Codecs, ChecksumsDigestAndBase64MatchTheReferenceValues) {
  for (const CodecVector& v : kCodecVectors) {
    SCOPED_TRACE(v.size);
    EXPECT_EQ(Crc32OfBuffer(v.data, v.size), v.crc32);
    EXPECT_EQ(Crc16OfText(std::string_view(v.data, v.size)), v.crc16);
    std::uint8_t digest[16];
    Md5OfBuffer(digest, v.data, v.size);
    EXPECT_EQ(Hex(digest, 16), v.md5);
    std::string encoded, decoded;
    Base64EncodeBuffer(v.data, v.size, encoded);
    EXPECT_EQ(encoded, v.base64);
    EXPECT_EQ(Base64EncodedSize(v.size), encoded.size());
    Base64DecodeText(encoded, decoded);
    EXPECT_EQ(decoded, std::string(v.data, v.size));
  }
  EXPECT_EQ(Crc16OfText("123456789"), 0x31C3);
  EXPECT_EQ(Crc16OfText(""), 0);
  EXPECT_EQ(Crc32OfBuffer(nullptr, 10), 0u);
}

TEST(Codecs, Base64EdgeCases) {
  struct Case {
    const char* text;
    const char* decoded;
    std::size_t size;
  } cases[] = {
      {"QQ==", "A", 1}, {"QUI=", "AB", 2}, {"QUJD", "ABC", 3}, {"QUJ", "", 0}, {"", "", 0}, {"QUJDRA", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string out;
    Base64DecodeText(c.text, out);
    EXPECT_EQ(out, c.decoded);
    EXPECT_EQ(Base64DecodedSize(c.text, std::strlen(c.text)), c.size);
  }
  std::string one, two;
  Base64EncodeText("x", one);
  Base64EncodeText("xy", two);
  EXPECT_EQ(one, "eA==");
  EXPECT_EQ(two, "eHk=");
}

TEST(Codecs, CipherMatchesTheIndependentModel) {
  for (const CipherVector& v : kCipherVectors) {
    SCOPED_TRACE(std::string(v.password) + "/" + std::to_string(v.size));
    SetCipherPassword(v.password);
    const auto* plain = reinterpret_cast<const std::uint8_t*>(v.plain);
    const auto* cipher = reinterpret_cast<const std::uint8_t*>(v.cipher);
    std::uint8_t out[64];
    if (!v.cbc) {
      EncryptBlock(plain, out);
      EXPECT_EQ(Hex(out, 8), Hex(cipher, 8));
      DecryptBlock(cipher, out);
      EXPECT_EQ(Hex(out, 8), Hex(plain, 8));
    } else {
      DecryptBufferCbc(cipher, out, v.size);
      EXPECT_EQ(Hex(out, v.size), Hex(plain, v.size));
      EncryptBufferCbc(plain, out, v.size);
      EXPECT_EQ(Hex(out, v.size), Hex(cipher, v.size));
    }
  }
}

TEST(Codecs, InflateBufferGrowsItsOutputAndRejectsBrokenStreams) {
  for (const InflateVector& v : kInflateVectors) {
    SCOPED_TRACE(v.plainSize);
    std::string out;
    EXPECT_EQ(InflateBuffer(v.packed, v.packedSize, out), 0);
    EXPECT_EQ(out.size(), v.plainSize);
    EXPECT_EQ(Crc32OfBuffer(out.data(), out.size()), v.plainCrc);
  }
  const InflateVector& big = kInflateVectors[2];  // 100000 bytes from a few hundred
  std::string broken(big.packed, big.packedSize);
  broken[5] = static_cast<char>(broken[5] ^ 0x55);
  std::string out = "kept?";
  EXPECT_THROW(InflateBuffer(broken.data(), broken.size(), out), EZLibError);
  EXPECT_TRUE(out.empty());
  // Cut short, not a zlib stream, or larger than allowed.
  EXPECT_THROW(InflateBuffer(big.packed, big.packedSize / 2, out), EZLibError);
  EXPECT_THROW(InflateBuffer("not zlib", 8, out), EZLibError);
  EXPECT_THROW(InflateBuffer(big.packed, big.packedSize, out, 4096), EZLibError);
}

// --- ZIP ---
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    path = std::filesystem::temp_directory_path() /
           ("errorreport-zip-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
            std::to_string(std::rand()));
    std::filesystem::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string File(const std::string& name) const { return (path / name).string(); }
};

std::string ReadEntry(const std::string& zip, const std::string& name, const char* password, int& rc) {
  unzFile f = unzOpen(zip.c_str());
  std::string data;
  rc = -100;
  if (!f) return data;
  if (unzLocateFile(f, name.c_str(), 1) == UNZ_OK && unzOpenCurrentFilePassword(f, password) == UNZ_OK) {
    char buf[4096];
    int n;
    while ((n = unzReadCurrentFile(f, buf, sizeof buf)) > 0) data.append(buf, static_cast<std::size_t>(n));
    rc = n;
    if (unzCloseCurrentFile(f) != UNZ_OK) rc = -101;  // a CRC mismatch shows here
  }
  unzClose(f);
  return data;
}

void WriteFile(const std::string& name, const std::string& data) {
  std::ofstream(name, std::ios::binary) << data;
}

TEST(Codecs, ZipArchivesWithAndWithoutPasswordReadBack) {
  TempDir dir;
  const std::string report = dir.File("report.txt"), empty = dir.File("empty.txt");
  std::string text;
  for (int i = 0; i < 500; ++i) text += "Line " + std::to_string(i) + " of the report\r\n";
  WriteFile(report, text);
  WriteFile(empty, "");
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(password);
    const std::string zip = dir.File(std::string("archive") + (*password ? "-pw" : "") + ".zip");
    WriteFile(zip, "old content that is replaced");
    {
      TOwned<TZipWriter> w(New<TZipWriter>(zip, password));
      ASSERT_TRUE(w->IsOpen());
      EXPECT_TRUE(w->AddFileEntry(report, "report.txt"));
      EXPECT_TRUE(w->AddFileEntry(empty, "empty.txt"));
      EXPECT_FALSE(w->AddFileEntry(dir.File("missing.txt"), "missing.txt"));
    }
    if (*password) {
      // Every entry is flagged as encrypted; the archive tools open them with
      // the password (the zip-tools script, on the archives of the Windows builds).
      unzFile f = unzOpen(zip.c_str());
      ASSERT_NE(f, nullptr);
      int entries = 0;
      for (int rc = unzGoToFirstFile(f); rc == UNZ_OK; rc = unzGoToNextFile(f)) {
        unz_file_info info;
        ASSERT_EQ(unzGetCurrentFileInfo(f, &info, nullptr, 0, nullptr, 0, nullptr, 0), UNZ_OK);
        EXPECT_EQ(info.flag & 1, 1u);
        ++entries;
      }
      unzClose(f);
      EXPECT_EQ(entries, 2);
      continue;
    }
    int rc;
    EXPECT_EQ(ReadEntry(zip, "report.txt", nullptr, rc), text);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadEntry(zip, "empty.txt", nullptr, rc), "");
    EXPECT_EQ(rc, 0);
#if !defined(_WIN32)
    // The archive tools agree.
    std::string test = std::string("unzip -qq ") + (*password ? "-P pw " : "") + "-t '" + zip + "' >/dev/null";
    EXPECT_EQ(std::system(test.c_str()), 0) << test;
    std::string py = std::string("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); ") +
                     "assert z.read('empty.txt', pwd=b'" + password + "') == b''; " +
                     "assert len(z.read('report.txt', pwd=b'" + password + "')) == " + std::to_string(text.size()) +
                     "\" '" + zip + "'";
    EXPECT_EQ(std::system(py.c_str()), 0) << py;
#endif
  }
  EXPECT_EQ(CreateZipArchive(dir.File("no-such-folder/x.zip")), nullptr);
}

}  // namespace
