// Writes a few small valid inputs per fuzz target, made with the program's own
// writers, so that short fuzzing runs start past the headers. Each target's
// seeds go to <folder>/<target>/seed-<n>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ByteWriter.h"
#include "Dib.h"
#include "EBase64.h"
#include "ECore.h"
#include "JCompress.h"
#include "LangFileWriter.h"
#include "LangRes.h"
#include "ObjectConvert.h"
#include "PackedStrings.h"
#include "ResProc.h"
#include "Streams.h"
#include "VLDataWriter.h"
#include "VLDebugWriter.h"
#ifdef PELLORY_SEEDS_COMPONENTS
#include "GifLzw.h"
#include "IcoList.h"
#include "QvGIF.h"
#endif
#ifdef PELLORY_SEEDS_TREEVIEW
#include "VirtualStringTreeCore.h"
#endif
#ifdef PELLORY_SEEDS_PHONE
#include "LinkFrames.h"
#include "NokiaLogos.h"
#endif

namespace {

namespace fs = std::filesystem;

bool g_ok = true;

void Seed(const fs::path& folder, const char* target, const std::vector<std::string>& inputs) {
  const fs::path dir = folder / target;
  std::error_code ec;
  fs::create_directories(dir, ec);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const fs::path file = dir / ("seed-" + std::to_string(i + 1));
    std::ofstream out(file, std::ios::binary);
    out.write(inputs[i].data(), static_cast<std::streamsize>(inputs[i].size()));
    if (!out) {
      std::fprintf(stderr, "pellory_fuzzseeds: cannot write %s\n", file.string().c_str());
      g_ok = false;
    }
  }
}

std::string Text(std::size_t size) {
  static const char* const words[] = {"the", "phone", "cable", "port", "Caption", "Next", "IMEI:", "wizard"};
  std::string s;
  for (std::size_t i = 0; s.size() < size; ++i) s += std::string(words[(i * 7 + i / 3) % 8]) + (i % 5 ? " " : ".\r\n");
  s.resize(size);
  return s;
}

const char kFormText[] =
    "object FuzzForm: TFuzzForm\n"
    "  Caption = 'Pellory'\n"
    "  Left = 10\n"
    "  Width = 320\n"
    "  Kind = fkTwo\n"
    "  Kinds = [fkOne, fkThree]\n"
    "  object Part1: TFuzzPart\n"
    "    Items.Strings = (\n"
    "      'one'\n"
    "      'two')\n"
    "    Columns = <\n"
    "      item\n"
    "        Width = 40\n"
    "        Text = 'first'\n"
    "      end>\n"
    "    Data = {0102030405}\n"
    "  end\n"
    "end\n";

const char kSmallFormText[] =
    "object Form1: TFuzzForm\n"
    "  Caption = 'x'#1078\n"
    "  Scale = 1.5\n"
    "end\n";

void Framework(const fs::path& folder) {
  std::string records;
  ByteWriter w(records);
  for (std::uint8_t kind = 0; kind < 8; ++kind) {
    w.U8(kind);
    w.U32LE(0x01020304u);
    w.U16BE(0x0506);
    w.Bytes("abcdefgh");
  }
  Seed(folder, "fuzz_byte_reader", {records, std::string("\x03\x04\x00\x00\x00wxyz", 9)});

  std::vector<std::string> bmps;
  for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit}) {
    TDib dib;
    dib.SetPixelFormat(format);
    dib.SetSize(5, 3);
    dib.SetPixel(1, 1, DibRGB(255, 255, 255));
    dib.SetPixel(4, 2, DibRGB(255, 0, 0));
    bmps.push_back(dib.SaveToBmp());
  }
  Seed(folder, "fuzz_dib_bmp", bmps);

  Seed(folder, "fuzz_form_parser", {kFormText, kSmallFormText});
  Seed(folder, "fuzz_form_reader", {ObjectTextToBinary(kFormText), ObjectTextToBinary(kSmallFormText)});

  std::string block;
  ByteWriter b(block);
  for (int i = 0; i < 16; ++i) {
    const std::u16string s = i % 3 ? u"" : u"Text " + std::u16string(1, static_cast<char16_t>(u'A' + i));
    b.U16LE(static_cast<std::uint16_t>(s.size()));
    b.WideLE(s);
  }
  Seed(folder, "fuzz_res_string_block", {block, std::string("\x02\x00h\x00i\x00", 6)});
}

// Help-project map files (the main file, then include files after "\xFF\xFE")
// and FileData values: a length and 8-byte records.
void HelpMaps(const fs::path& folder) {
  Seed(folder, "fuzz_help_map",
       {"[MAP]\r\n#define IDH_A 10\r\nIDH_B=1a\r\nIDH_C $14\r\n; note\r\n[END]\r\n",
        "[MAP]\n#include b.h\nIDH_MAIN 1\n\xFF\xFEIDH_B 2\n#include c.h\n\xFF\xFE#define IDH_C 3\n#include a.h\n"});
  std::string table;
  ByteWriter t(table);
  t.U32LE(16u);
  for (std::uint32_t v : {0xFFFFFFF0u, 10u, 17u, 20u}) t.U32LE(v);
  Seed(folder, "fuzz_help_file_data", {table, std::string(4, '\0')});
}

void SetValue(TLResItem* item, int index, const std::u16string& text) {
  TLResValue* v = item->GetValue(index);
  v->SetWideText(text);
  v->SetStamp(5);
}

std::string LangFile(std::uint16_t format, bool compressed) {
  TLangResource* store = New<TLangResource>();
  store->SetNativeLocale(9);
  TLResUnitItem* unit = store->Units()->FindOrAdd("Main");
  SetValue(unit->Constants()->FindOrAdd(1, "SIMEI", 65264), 0, u"IMEI:");
  TLResFormItem* form = store->Forms()->FindOrAdd("TWizardForm");
  SetValue(form->AddProperty("", 1, "Caption", lvkWideString), 0, u"Pellory");
  SetValue(form->AddProperty("NextButton", 2, "Caption", lvkWideString), 0, u"Next >");
  SetValue(store->ExtGroups()->FindOrAdd("Help")->Items()->FindOrAdd(1, "Topic"), 0, u"Help");
  TLangFileHeader h;
  h.Format = format;
  h.LangID = 0x0409;
  h.EnglishName = "English";
  h.LocalizedName = u"English";
  h.IsNative = true;
  std::string image = WriteLangFileImage(h, *store, 0);
  store->Free();
  return compressed ? LzjCompress(image) : image;
}

void Localization(const fs::path& folder) {
  const std::string text = Text(600);
  Seed(folder, "fuzz_lzj_decode",
       {LzjEncodeTokens(text), LzjEncodeTokens("abcabcabcabcabc"), LzjEncodeTokens(std::string(300, 'x'))});

  std::vector<std::string> packed;
  for (int format : {3, 6}) {
    std::string s(1, static_cast<char>(format | 0x28));  // format, then a mix of ANSI and wide strings
    for (int i = 0; i < 5; ++i) {
      if ((0x28 >> (3 + i)) & 1)
        WritePackedWideString(s, u"Wide \u0416", format);
      else
        WritePackedAnsiString(s, i == 4 ? Text(200) : "ansi", format);
    }
    packed.push_back(s);
  }
  Seed(folder, "fuzz_packed_strings", packed);

  Seed(folder, "fuzz_lang_file", {LangFile(7, false), LangFile(4, false), LangFile(7, true)});

  // Embedded language lists: u16 sizes and plain blocks, u32 sizes and compressed blocks with names.
  std::vector<TEmbeddedLanguage> languages = {{9, "English", u"English", LangFile(7, false)},
                                              {0x0407, "German", u"Deutsch", LangFile(4, true)}};
  Seed(folder, "fuzz_loc_langs",
       {WriteEmbeddedLanguageList(languages, 1, 92), WriteEmbeddedLanguageList(languages, 4, 92)});

  // A settings byte, then a form in each of its three kinds.
  const std::string translatable =
      "object Form1: TFuzzForm\r\n  Caption = 'x'\r\n  Font.Charset = DEFAULT_CHARSET\r\n  Tag = 1\r\n"
      "  object Memo1: TMemo\r\n    Lines.Strings = (\r\n      'a')\r\n    Columns = <\r\n      item\r\n"
      "        Width = 2\r\n      end>\r\n  end\r\nend\r\n";
  TStringStream* source = New<TStringStream>(translatable);
  TStringStream* resource = New<TStringStream>();
  ObjectTextToResource(*source, *resource);
  Seed(folder, "fuzz_form_translate",
       {std::string("\x19") + translatable, std::string("\x0D") + ObjectTextToBinary(translatable),
        std::string("\x3E") + resource->DataString()});
  resource->Free();
  source->Free();

  // component<TAB>property<TAB>value[<TAB>stamp] lines for the fake tree of live components
  Seed(folder, "fuzz_live_forms",
       {"Panel1\tCaption\tHello\nPanel1.Font\tCharset\t204\nrgType\tItems.Strings\ta\r\nb\n",
        "Grid.Columns[1]\tCaption\tx\nGrid.Columns[0].Lines[2]\tCaption\ty\nGrid.Columns[1\tCaption\tz\n",
        "Book.TTabPage2\tCaption\tpage\nStyled\tCaption\ts\t7\nThing.Parts[3]\tCaption\te\nPanel1\tAlign\t9\n"});

  TResProcessor* processor = New<TResProcessor>();
  processor->TimeStamp = 0;
  TResString* strings = New<TResString>(processor);
  strings->AddString(65264, u"IMEI:");
  strings->AddString(1, u"Pellory");
  processor->AddBlock(strings);
  TResRCData* rcdata = New<TResRCData>(processor);
  rcdata->AddItem("TWIZARDFORM", false)->SetData(ObjectTextToBinary(kSmallFormText));
  processor->AddBlock(rcdata);
  const std::string dll = processor->ResourceDLLImage();
  processor->Free();
  Seed(folder, "fuzz_pe_reader", {dll});

  // Settings resources: the program's and a library's, with and without a build.
  const std::string exeSettings = WriteSettingsResource("JEXE", 92, 9, "English", u"English", 6, 0);
  const std::string libSettings = WriteSettingsResource("LDLL", 92, 0x0407, "German", u"Deutsch", 6, 7);
  Seed(folder, "fuzz_loc_settings",
       {exeSettings, libSettings,
        WriteSettingsResource("LDLL", 10000, 0x0419, "Russian", u"\u0420\u0443\u0441", 1, 0).substr(0, 26)});

  // A native library like the program's: its strings, its form and both settings.
  const std::string wizardForm =
      "object WizardForm: TWizardForm\r\n  Caption = 'Pellory'\r\n  Font.Charset = DEFAULT_CHARSET\r\n"
      "  object rgType: TRadioGroup\r\n    Items.Strings = (\r\n      'Cable'\r\n      'Infrared')\r\n  end\r\nend\r\n";
  TResProcessor* native = New<TResProcessor>();
  native->TimeStamp = 0;
  TResString* nativeStrings = New<TResString>(native);
  nativeStrings->AddString(65264, u"IMEI:");
  nativeStrings->AddString(65295, u"Next >");
  native->AddBlock(nativeStrings);
  TResRCData* nativeData = New<TResRCData>(native);
  nativeData->AddItem("TWIZARDFORM", false)->SetData(ObjectTextToBinary(wizardForm));
  nativeData->AddItem("WQM_LIBSETTINGS_", false)
      ->SetData(WriteSettingsResource("LDLL", 92, 9, "English", u"English", 6, 0));
  nativeData->AddItem("WQM_EXESETTINGS_", false)->SetData(exeSettings);
  native->AddBlock(nativeData);
  Seed(folder, "fuzz_lang_library", {native->ResourceDLLImage()});
  native->Free();
}

#ifdef PELLORY_SEEDS_PHONE
void Phone(const fs::path& folder) {
  const std::string model = std::string("\x00\x01\x00\x03\x00\x01\x60\x00", 8);
  const std::string fbus = BuildFbusFrame(0xD1, model) + BuildFbusAck(0x7F, 0x41);
  Seed(folder, "fuzz_phone_frames",
       {std::string("\x00\x05", 2) + fbus, std::string("\x01\x01", 2) + "AT*NOKIAFBUS\r\r\nOK\r\n" + fbus,
        std::string("\x02\x03", 2) + BuildPhonetFrame(0x14, 0xD2, model)});
  Seed(folder, "fuzz_irda",
       {std::string("\x00\x04", 2) + BuildPhonetFrame(0x14, 0xD2, model) + BuildPhonetFrame(0x14, 0x1B, "\x01"),
        std::string("\x01\x07", 2) + BuildPhonetFrame(0x1B, 0x7F, "\x02\x01")});
  const std::string reply = std::string("\x01\x00\x07\x00\x01\x00\x03\x00\x01\x60\x00", 11);
  Seed(folder, "fuzz_phone_replies", {std::string(1, '\xD2') + reply, std::string("\x1B\x00\x01\x00\x03", 5)});
  Seed(folder, "fuzz_phone_dispatch", {std::string(1, '\xD2') + reply, std::string("\x1B\x00\x01\x00\x03", 5)});
  Seed(folder, "fuzz_serial_ports",
       {"COM1\nCOM2\nNokia USB Phone Parent (COM5)\nCOM5\n", "\\Device\\Serial0=COM1\nDKU-5=COM7\n"});
  Seed(folder, "fuzz_phonesim",
       {std::string("\x04\x07", 2) + FbusPreamble() + fbus, std::string("\x01\x05", 2) + "AT\r\nAT*NOKIAFBUS\r\n",
        std::string("\x02\x09", 2) + BuildPhonetFrame(0x19, 0xD1, model)});

  TMonoBitmap small(8, 4), logo(72, 14), startup(kStartupLogoWidth, kStartupLogoHeight);
  for (int i = 0; i < 8; ++i) small.SetPixel(i, i % 4, true);
  for (int x = 0; x < 72; ++x) logo.SetPixel(x, (x * 3) % 14, true);
  for (int x = 0; x < kStartupLogoWidth; ++x) startup.SetPixel(x, x % kStartupLogoHeight, true);
  Seed(folder, "fuzz_logo_nol", {WriteNolLogo(logo), WriteNolLogo(small)});
  Seed(folder, "fuzz_logo_ngg", {WriteNggLogo(logo), WriteNggLogo(small)});
  Seed(folder, "fuzz_logo_nlm", {WriteNlmLogo(logo, 0), WriteNlmLogo(small, 2)});
  Seed(folder, "fuzz_logo_ota", {WriteOtaLogo(logo), WriteOtaLogo(small)});
  Seed(folder, "fuzz_logo_nsl", {WriteNslLogo(startup)});
}
#endif

#ifdef PELLORY_SEEDS_TREEVIEW
// Saved trees: a string tree's three nodes with a caption and user data as the
// writer makes them, and hand-made streams of the older versions 0 and 1.
std::string TreeLeaf(int version, std::uint8_t states, const std::string& extra, std::uint32_t childCount,
                     const std::string& children) {
  std::string baseBytes, nodeBytes;
  ByteWriter base(baseBytes);
  base.U32LE(childCount);
  base.U32LE(18);
  if (version >= 2)
    base.U16LE(states);
  else
    base.U8(states);
  base.Bytes(std::string("\x32\0\0", 3));
  if (version >= 2) base.U32LE(0);
  std::string body = baseBytes + children;
  ByteWriter node(nodeBytes);
  node.U32LE(1);
  node.U32LE(std::uint32_t(8 + body.size() + extra.size()));
  node.U32LE(2);
  node.U32LE(std::uint32_t(body.size()));
  return nodeBytes + body + extra;
}
std::string TreeHeader(int version) {
  std::string bytes;
  ByteWriter w(bytes);
  for (unsigned unit : {0x2045u, 0x56u, 0x54u, unsigned(version), 0x20u, 0x2046u}) w.U16LE(std::uint16_t(unit));
  return bytes;
}

void TreeView(const fs::path& folder) {
  class SeedTree : public TVirtualStringTreeCore {
   public:
    SeedTree() : TVirtualStringTreeCore(nullptr, nullptr) { SetNodeDataSize(8); }
    ~SeedTree() override { Shutdown(); }

   protected:
    void DoGetText(TVTNode* node, int, int kind, std::u16string& text) override {
      if (kind == ttNormal) text = node->Index ? u"\u03A91" : u"B";
    }
    void FireSaveNode(TVTNode* node, TStream& stream) override {
      if (node && node->Parent->Parent) stream.WriteBuffer("userdata", 8);
    }
  } tree;
  TVTNode* a = tree.AllocateNode();
  a->States |= vsInitialized | vsExpanded;
  tree.LinkNode(a, nullptr, 4);
  TVTNode* c = tree.AllocateNode();
  c->States |= vsInitialized;
  tree.LinkNode(c, a, 4);
  TVTNode* b = tree.AllocateNode();
  b->States |= vsInitialized;
  tree.LinkNode(b, nullptr, 4);
  TStringStream saved;
  tree.SaveTreeToStream(saved);
  const std::string caption("\3\0\0\0\2\0\0\0x\0", 10);
  Seed(folder, "fuzz_node_stream",
       {saved.DataString(),
        TreeHeader(0) + TreeLeaf(0, 0x81, {}, 0, {}) + TreeLeaf(0, 0x21, {}, 1, TreeLeaf(0, 0x01, caption, 0, {})),
        TreeHeader(1) + TreeLeaf(1, 0x81, caption, 0, {}) + TreeLeaf(1, 0x01, {}, 0, {})});
}
#endif

#ifdef PELLORY_SEEDS_COMPONENTS
// GIF raster data: the five-byte picture choice of fuzz_gif_lzw, then a raster
// stream of a small picture.
std::string GifRaster(std::uint8_t flags, int width, int height, unsigned bits, bool interlaced) {
  TBitmapInfoHeader h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  std::vector<std::uint8_t> pixels(LzwPixelBufferSize(h));
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>((i * 37) ^ (i / 5));
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  LZWEncode(*out, h, interlaced, nullptr, pixels);
  std::string seed;
  ByteWriter w(seed);
  w.U8(flags);
  w.U16LE(static_cast<std::uint16_t>(width));
  w.U16LE(static_cast<std::uint16_t>(height));
  return seed + out->DataString();
}

// An animated cursor file: a chunk is an id, a size and a body padded to an
// even length; the frames' icon files hold a directory and 40-byte image
// headers.
std::string AniChunk(const std::string& id, const std::string& body) {
  std::string s = id;
  ByteWriter(s).U32LE(static_cast<std::uint32_t>(body.size()));
  s += body;
  if (body.size() % 2) s.push_back('\0');
  return s;
}

std::string AniIconFile(std::uint16_t type, std::uint8_t size, std::uint16_t bits) {
  std::string s;
  ByteWriter w(s);
  w.U16LE(0);
  w.U16LE(type);
  w.U16LE(1);
  w.U8(size);
  w.U8(size);
  w.U16LE(0);
  w.U16LE(3);  // the cursor's hot spot
  w.U16LE(4);
  w.U32LE(40);
  w.U32LE(22);
  std::string header(40, '\0');
  header[0] = 40;
  header[14] = static_cast<char>(bits);
  return s + header;
}

std::string AniFile(std::uint32_t frames, bool withRates, bool withSequence, bool withInfo) {
  std::string anih;
  ByteWriter w(anih);
  for (std::uint32_t v : {36u, frames, frames, 32u, 32u, 0u, 0u, 10u, withSequence ? 3u : 1u}) w.U32LE(v);
  std::string chunks = AniChunk("anih", anih);
  std::string values;
  for (std::uint32_t i = 0; i < frames; ++i) ByteWriter(values).U32LE(frames - 1 - i);
  if (withRates) chunks += AniChunk("rate", values);
  if (withSequence) chunks += AniChunk("seq ", values);
  if (withInfo) chunks += AniChunk("LIST", "INFO" + AniChunk("INAM", "Busy") + AniChunk("IART", "Pellory"));
  std::string icons;
  for (std::uint32_t i = 0; i < frames; ++i)
    icons += AniChunk("icon", AniIconFile(i % 2 ? 2 : 1, static_cast<std::uint8_t>(16 + 16 * (i % 2)),
                                          static_cast<std::uint16_t>(i % 3 == 0 ? 4 : 8)));
  chunks += AniChunk("LIST", "fram" + icons);
  return AniChunk("RIFF", "ACON" + chunks);
}

std::string IconsLayout(const std::vector<std::string>& files) {
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  WriteIconsLayout(*s, files);
  return s->DataString();
}

// A GIF file of `frames` frames compressed from 4- or 8-bit pictures, with a
// delay, a transparent colour, a frame comment, a global comment and the loop
// block; the leading byte of fuzz_gif_file (1: damaged data accepted).
std::string GifFile(int frames, unsigned bits) {
  TGifContainer gif;
  gif.FileVersion = 2;
  gif.Looping = true;
  gif.LoopCount = 3;
  gif.CommentText = {"seed"};
  for (int i = 0; i < frames; ++i) {
    TDib dib(9 + i, 5, static_cast<int>(bits));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9 + i; ++x) dib.SetPixelIndex(x, y, static_cast<unsigned>((x * 3 + y + i) % (1 << bits)));
    gif.Frames.emplace_back();
    TGifFrameData& f = gif.Frames.back();
    CompressDIBToGifFrame(dib.SaveToBmp(), f, gif, nullptr);
    f.DelayTime = 100 * static_cast<std::uint32_t>(i + 1);
    f.TransparentColor = gif.GlobalColors.ColorOf(1);
    TGifExtension comment;
    comment.HasData = true;
    comment.Data = {"frame " + std::to_string(i)};
    f.ExtensionBlocks.push_back(comment);
  }
  return std::string(1, '\1') + StoreGifData(gif);
}

void Components(const fs::path& folder) {
  Seed(folder, "fuzz_gif_file", {GifFile(1, 4), GifFile(3, 8), GifFile(2, 1)});
  // Form data: the file (without fuzz_gif_file's leading byte) after its length.
  Seed(folder, "fuzz_gif_form_data",
       {LengthPrefixed(GifFile(2, 4).substr(1)), LengthPrefixed(GifFile(1, 1).substr(1)),
        LengthPrefixed(GifFile(1, 8).substr(1)) + "tail"});
  Seed(folder, "fuzz_icons_layout",
       {IconsLayout({}), IconsLayout({AniIconFile(1, 16, 4), "", AniIconFile(1, 32, 8)}), IconsLayout({""})});
  Seed(folder, "fuzz_ani_file",
       {AniFile(3, false, false, true), AniFile(4, true, true, false), AniFile(1, false, false, false)});
  // Flags: bit 0 interlaced, bits 2-3 the pixel bits, bits 4-6 the colour bits less one.
  Seed(folder, "fuzz_gif_lzw",
       {GifRaster(0x78, 16, 9, 8, false), GifRaster(0x35, 7, 11, 4, true), GifRaster(0x00, 33, 3, 1, false),
        GifRaster(0x7A, 40, 40, 8, false)});
  // Options byte, rectangle width, point; then the mark-up text.
  Seed(folder, "fuzz_html_render",
       {std::string("\x00\x78\x21") + "Hello <B>bold</B> &amp; <A HREF=\"x\">link</A><BR><IMG SRC=\"LOGO\">",
        std::string("\x0B\x40\x10") + "<UL><LI>one<LI>two</UL><P ALIGN=\"RIGHT\">r<SUB>s</SUB><HR><R a=\"90\">t",
        std::string("\x15\x30\x05") + "<BODY BGCOLOR=\"#FF0000\" BGCOLORTO=\"clBlue\"><FONT SIZE=\"2\" "
                                      "COLOR=\"red\">a</FONT><E>e</E><SHAD>s</SHAD><IND x=\"20\"><Z>z</Z>"});
  // Frame number, then GIF data: a screen of 20 x 10 and two frames with control extensions.
  std::string gif = std::string("\x02") + "GIF89a" + std::string("\x14\x00\x0A\x00\x00\x00\x00", 7);
  for (int f = 0; f < 2; ++f)
    gif +=
        std::string("\x21\xF9\x04\x00\x00\x00\x00\x00\x2C\x01\x00\x02\x00\x03\x00\x04\x00\x00\x02\x02\x44\x01\x00", 23);
  gif += ';';
  Seed(folder, "fuzz_html_gif_frames", {gif, std::string("\x01") + "GIF87a\x01\x00\x01\x00"});
}
#endif

}  // namespace

// UTF-16 text as little-endian bytes.
std::string Utf16Bytes(const std::u16string& s) {
  std::string out;
  ByteWriter w(out);
  w.WideLE(s);
  return out;
}

const char kWideFormText[] =
    "object FuzzWideForm: TFuzzWidePart\n"
    "  Caption = 'Pellory'\n"
    "  Caption_UTF7 = '+BBYENAQ4BEIENQ'\n"
    "  object Part1: TFuzzWidePart\n"
    "    Caption = #1046#1076\n"
    "    CaptionW = #208#150#208#180\n"
    "    Hint_UTF7 = 'x+AH4-y'\n"
    "    AccelW = #1046\n"
    "    Accel_UTF7 = '+BBY'\n"
    "  end\n"
    "end\n";

void Unicode(const fs::path& folder) {
  Seed(folder, "fuzz_utf7", {"A+-B", "+AKM-1", "x+AH4-y", "+BBYENAQ4BEIENQ", "+2D3eAA-!"});
  Seed(folder, "fuzz_utf8", {"\xE2\x82\xAC", "\xED\xA0\xBD\xED\xB8\x80", "A\xC3\xA9\xD0\x96"});
  Seed(folder, "fuzz_wide_param",
       {Utf16Bytes(u"\"C:\\Program Files\\w.exe\" 1049 \"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440\""),
        Utf16Bytes(u"a\"b c\"d \"\" e")});
  Seed(folder, "fuzz_wide_form_reader", {ObjectTextToBinary(kWideFormText)});
}

void ErrorReport(const fs::path& folder) {
  TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>(""));
  options->SetMailHost("mx.example.com");
  auto* filter = new TVantorExceptionFilter;
  filter->ExceptionClass = "EAccessViolation";
  options->FilterList()->AddFilter(filter);
  TOwned<TStringStream> stream(New<TStringStream>());
  options->SaveToStream(*stream);
  const std::string current = stream->DataString();
  TVLDataInput in;
  in.options = current;
  in.debugData = "debug";
  in.symbols = {{0, 16, 0}};
  in.password = "pw";
  // The first byte chooses the form; the trailer follows a module's bytes.
  std::string resource(1, '\0'), trailer("\1MZ"), optionStream("\x86\x17");
  resource.append(MakeResourceBlock(in));
  trailer.append(MakeTrailerBlock(in));
  optionStream.append(current);
  Seed(folder, "fuzz_vldata_block", {resource, trailer});
  // Leak bytes: the first byte cuts the rest into a module's block and the
  // main module's (value % (rest + 1); bit 0x80: the module is a DLL).
  auto header = [](std::uint16_t version, std::uint8_t options, std::uint8_t useMain) {
    std::string h("\x10\xAB\x0F\x10", 4);
    h += static_cast<char>(version & 0xFF);
    h += static_cast<char>(version >> 8);
    h.append(8, '\0');
    h += static_cast<char>(options);
    h += static_cast<char>(useMain);
    return h;
  };
  TVLDataInput leaky = in;
  leaky.leakOptions = 0x11;
  Seed(folder, "fuzz_leak_options",
       {std::string(1, '\0') + MakeResourceBlock(leaky),
        // 148 % 33 = 16: a DLL's 16-byte header that asks for the main module's, then the main module's.
        std::string(1, static_cast<char>(148)) + header(6022, 0x01, 1) + header(6022, 0x1F, 0),
        std::string(1, '\0') + header(601, 0x09, 0), std::string(1, '\0') + header(550, 0x01, 0)});
  // Line tables: version (2 bytes), password accepted (1 byte), the table.
  std::vector<std::string> tables;
  for (std::uint16_t version : {6022, 450}) {
    TVLLineTableInput lines;
    lines.Version = version;
    lines.Password = "pw";
    lines.Rows = {{"main.cpp", 10, 0x100, false},
                  {"main.cpp", 12, 0x108, false},
                  {"main.cpp", 11, 0x110, false},
                  {"main.cpp", 40, 0x9000, false},
                  {"main.cpp", 0, 0x9100, true}};
    lines.Functions = {{0x100, "Widget", "Paint"}, {0x110, "Widget", "Size"}, {0x9000, "", "main"}};
    std::string seed{static_cast<char>(version & 0xFF), static_cast<char>(version >> 8), '\1'};
    tables.push_back(seed + MakeLineTable(lines));
  }
  Seed(folder, "fuzz_line_table", tables);
  Seed(folder, "fuzz_option_stream", {optionStream});
  std::string b64;
  Base64EncodeText("Basic user:password", b64);
  Seed(folder, "fuzz_base64", {b64, "QQ==", "QUI="});
  // Procedure entries: a frame prologue up to its return, a short jump first, a rel32 call first.
  Seed(folder, "fuzz_code_decoder",
       {std::string("\x40\x55\x8B\xEC\x8B\x45\x08\x5D\xC2\x08\x00", 11), std::string("\x20\x74\x10\x8B\x45\x08\xC3", 7),
        std::string("\x10\xE8\x00\x10\x00\x00\x90\xC3", 8)});
  Seed(folder, "fuzz_disasm",
       {std::string("\x55\x8B\xEC\x83\xC4\xF0\x8B\x45\x08\x8B\x04\x8D\x00\x10\x40\x00\xE8\x00\x01\x00\x00\xC9\xC3", 23),
        std::string("\x66\x0F\xB6\x45\x08\xF3\xA5\xDD\x45\xF8\xDE\xC9\x0F\x6F\x06\x64\xA1\x18\x00\x00\x00", 21),
        std::string("\xD6\x0F\x01\xC0\xC7\x00\x78\x56\x34\x12\x67\x8B\x47\x02\xFF\x15\x00\x30\x40\x00", 20)});
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pellory_fuzzseeds FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[1];
  try {
    Framework(folder);
    HelpMaps(folder);
    Localization(folder);
    Unicode(folder);
    ErrorReport(folder);
#ifdef PELLORY_SEEDS_PHONE
    Phone(folder);
#endif
#ifdef PELLORY_SEEDS_COMPONENTS
    Components(folder);
#endif
#ifdef PELLORY_SEEDS_TREEVIEW
    TreeView(folder);
#endif
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pellory_fuzzseeds: %s\n", e.what());
    return 1;
  }
  return g_ok ? 0 : 1;
}
