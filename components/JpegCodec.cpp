#include "JpegCodec.h"

// libjpeg's headers want size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "Exceptions.h"
#include "SysUtils.h"

namespace {

// libjpeg reports errors through error_exit, which must not return: it jumps
// back to the one routine that called into the library. Between that routine's
// setjmp and the jump only libjpeg's own frames lie.
struct ErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

// On 64-bit Windows setjmp hands longjmp its frame, and longjmp then unwinds
// the stack the system's way, which needs unwind data in every frame it
// crosses: libjpeg is built without. A jump without the frame restores the
// registers and nothing else, as it does everywhere else.
#if defined(_WIN64)
#define TRAP_SETJMP(buffer) _setjmp((buffer), nullptr)
#else
#define TRAP_SETJMP(buffer) setjmp(buffer)
#endif

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

void DropMessage(j_common_ptr, int) {}
void DropOutput(j_common_ptr) {}

void InitErrorTrap(ErrorTrap& trap) {
  jpeg_std_error(&trap.manager);
  trap.manager.error_exit = ErrorExit;
  trap.manager.emit_message = DropMessage;
  trap.manager.output_message = DropOutput;
}

[[noreturn]] void RaiseJpegError(int code) {
  throw EInvalidGraphic(Format("JPEG error #%d", code));
}

// --- decoding ------------------------------------------------------------------------------------

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

struct Decoding {
  jpeg_source_mgr source{};
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool ended = false;
  std::int64_t maxPixels = 0;
  TDib* dib = nullptr;
  std::vector<JSAMPLE> row;
  JpegInfo info;
};

void InitSource(j_decompress_ptr) {}

// The whole file is handed over at once: asked for more, the file has ended,
// and an end-of-image marker stands in for what is missing. The decoder reads
// ahead, so that alone is no error (a file may lack only its marker); the
// scan data running short is, see DecodeWarning.
boolean FillInput(j_decompress_ptr cinfo) {
  auto* d = reinterpret_cast<Decoding*>(cinfo->src);
  d->ended = true;
  d->source.next_input_byte = kEndOfImage;
  d->source.bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  auto* d = reinterpret_cast<Decoding*>(cinfo->src);
  if (count <= 0) return;
  while (static_cast<unsigned long>(count) > d->source.bytes_in_buffer) {
    count -= static_cast<long>(d->source.bytes_in_buffer);
    FillInput(cinfo);
  }
  d->source.next_input_byte += count;
  d->source.bytes_in_buffer -= static_cast<std::size_t>(count);
}

// Warnings are dropped, but for one: the entropy decoder wanting bits past the
// end of the file means lines are missing, and that is an error.
void DecodeWarning(j_common_ptr cinfo, int level) {
  if (level >= 0 || cinfo->is_decompressor == 0) return;
  auto* d = reinterpret_cast<Decoding*>(reinterpret_cast<j_decompress_ptr>(cinfo)->src);
  if (d && d->ended && cinfo->err->msg_code == JWRN_HIT_MARKER) ERREXIT(cinfo, JERR_INPUT_EOF);
}

void TermSource(j_decompress_ptr) {}

// 0 when decoded, else libjpeg's message number. Nothing here owns memory:
// the jump back from an error skips no destructor.
int RunDecode(jpeg_decompress_struct& cinfo, ErrorTrap& trap, Decoding& d) {
  if (TRAP_SETJMP(trap.jump)) return trap.manager.msg_code != 0 ? trap.manager.msg_code : -1;
  d.source.init_source = InitSource;
  d.source.fill_input_buffer = FillInput;
  d.source.skip_input_data = SkipInput;
  d.source.resync_to_restart = jpeg_resync_to_restart;
  d.source.term_source = TermSource;
  d.source.next_input_byte = d.data;
  d.source.bytes_in_buffer = d.size;
  cinfo.src = &d.source;
  trap.manager.emit_message = DecodeWarning;
  jpeg_read_header(&cinfo, TRUE);
  if (std::int64_t{cinfo.image_width} * cinfo.image_height > d.maxPixels)
    ERREXIT1(&cinfo, JERR_IMAGE_TOO_BIG, static_cast<unsigned>(std::max(cinfo.image_width, cinfo.image_height)));
  d.info.Width = static_cast<int>(cinfo.image_width);
  d.info.Height = static_cast<int>(cinfo.image_height);
  d.info.Progressive = cinfo.progressive_mode != 0;
  d.info.Grayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  cinfo.out_color_space = d.info.Grayscale ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  // The picture's storage is made by the caller once the size is known (see DecodeJpeg).
  *d.dib = TDib(d.info.Width, d.info.Height, 24);
  d.row.resize(static_cast<std::size_t>(cinfo.output_width) * static_cast<std::size_t>(cinfo.output_components));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {d.row.data()};
    const int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) ERREXIT(&cinfo, JERR_INPUT_EOF);
    std::uint8_t* out = d.dib->ScanLine(y);
    const JSAMPLE* in = d.row.data();
    if (cinfo.output_components == 1) {
      for (JDIMENSION x = 0; x < cinfo.output_width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
    } else {
      for (JDIMENSION x = 0; x < cinfo.output_width; ++x, out += 3, in += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  return 0;
}

// --- encoding ------------------------------------------------------------------------------------

struct Encoding {
  jpeg_destination_mgr destination{};
  std::string out;
  std::vector<JOCTET> buffer = std::vector<JOCTET>(16384);
  const TDib* dib = nullptr;
  std::vector<JSAMPLE> row;
  int quality = 90;
  bool grayscale = false;
};

void InitDestination(j_compress_ptr cinfo) {
  auto* e = reinterpret_cast<Encoding*>(cinfo->dest);
  e->destination.next_output_byte = e->buffer.data();
  e->destination.free_in_buffer = e->buffer.size();
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* e = reinterpret_cast<Encoding*>(cinfo->dest);
  e->out.append(reinterpret_cast<const char*>(e->buffer.data()), e->buffer.size());
  e->destination.next_output_byte = e->buffer.data();
  e->destination.free_in_buffer = e->buffer.size();
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* e = reinterpret_cast<Encoding*>(cinfo->dest);
  e->out.append(reinterpret_cast<const char*>(e->buffer.data()), e->buffer.size() - e->destination.free_in_buffer);
}

int RunEncode(jpeg_compress_struct& cinfo, ErrorTrap& trap, Encoding& e) {
  if (TRAP_SETJMP(trap.jump)) return trap.manager.msg_code != 0 ? trap.manager.msg_code : -1;
  e.destination.init_destination = InitDestination;
  e.destination.empty_output_buffer = EmptyOutput;
  e.destination.term_destination = TermDestination;
  cinfo.dest = &e.destination;
  const TDib& dib = *e.dib;
  cinfo.image_width = static_cast<JDIMENSION>(dib.Width());
  cinfo.image_height = static_cast<JDIMENSION>(dib.Height());
  cinfo.input_components = e.grayscale ? 1 : 3;
  cinfo.in_color_space = e.grayscale ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, e.quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  e.row.resize(static_cast<std::size_t>(dib.Width()) * static_cast<std::size_t>(cinfo.input_components));
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    JSAMPLE* out = e.row.data();
    for (int x = 0; x < dib.Width(); ++x) {
      const std::uint32_t c = dib.Pixel(x, y);
      const unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
      if (e.grayscale) {
        *out++ = static_cast<JSAMPLE>((r * 77 + g * 150 + b * 29 + 128) >> 8);
      } else {
        *out++ = static_cast<JSAMPLE>(r);
        *out++ = static_cast<JSAMPLE>(g);
        *out++ = static_cast<JSAMPLE>(b);
      }
    }
    JSAMPROW rows[1] = {e.row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  return 0;
}

}  // namespace

int JpegEndOfInputError() {
  return JERR_INPUT_EOF;
}

TDib DecodeJpeg(std::string_view file, JpegInfo* info, std::int64_t maxPixels) {
  TDib dib;
  Decoding d;
  d.data = reinterpret_cast<const std::uint8_t*>(file.data());
  d.size = file.size();
  d.maxPixels = maxPixels;
  d.dib = &dib;
  ErrorTrap trap;
  InitErrorTrap(trap);
  jpeg_decompress_struct cinfo;
  cinfo.err = &trap.manager;
  // Creating the decoder raises nothing but a version mismatch, which the
  // build rules out; its memory is released on every way out below.
  jpeg_create_decompress(&cinfo);
  int code;
  try {
    code = RunDecode(cinfo, trap, d);
  } catch (...) {
    jpeg_destroy_decompress(&cinfo);
    throw;
  }
  jpeg_destroy_decompress(&cinfo);
  if (code != 0) RaiseJpegError(code);
  if (info) *info = d.info;
  return dib;
}

std::string EncodeJpeg(const TDib& dib, int quality, bool grayscale) {
  if (dib.Empty()) throw EInvalidGraphic("JPEG image is empty");
  Encoding e;
  e.dib = &dib;
  e.quality = std::clamp(quality, 1, 100);
  e.grayscale = grayscale;
  ErrorTrap trap;
  InitErrorTrap(trap);
  jpeg_compress_struct cinfo;
  cinfo.err = &trap.manager;
  jpeg_create_compress(&cinfo);
  int code;
  try {
    code = RunEncode(cinfo, trap, e);
  } catch (...) {
    jpeg_destroy_compress(&cinfo);
    throw;
  }
  jpeg_destroy_compress(&cinfo);
  if (code != 0) RaiseJpegError(code);
  return std::move(e.out);
}
