// treedemo: a form with a TBaseVirtualTree.
//
//   treedemo [--nodes N] [--children N] [--checks none|box|tristate|radio|button]
//            [--column-count N] [--hints] [--column-hints] [--header-hints]
//            [--multiselect] [--columns] [--header-style thick|flat|plates|xp]
//            [--classic] [--hot] [--search] [--screenshot FILE.png] [--report FILE]
//            [--strings [--save FILE] [--load FILE]] [--two]
//
// N top-level nodes (default 50); every fifth one has --children children
// (default 3), the first of them expanded. With --checks every node gets that
// check type, the states cycling through unchecked, checked and mixed. With
// --screenshot the client area is rendered through WM_PRINTCLIENT into a
// PNG file and the program ends; otherwise the form stays until closed.
// With --columns the tree has a header with three columns (name, size and a
// caption in Cyrillic), each cell showing its node and column, sorted by the
// second; --header-style picks the header's look, --classic paints without
// the visual style, and the screenshot then shows the whole window, header
// band included. Every node shows its text ("Node 12"). --hot tracks the
// node under the mouse (the hand cursor over it); --search finds nodes as
// their text or number is typed ("2" twice steps from node 2 to node 20).
// Check boxes react to clicks and the space key; the middle button pans.
// --column-count N gives N columns (each 70 wide unless N is 3); the first
// column is at least 40 and at most 250 wide, and a double click on an edge
// fits the column. --hints shows a cut-off cell text in full as the mouse
// rests on it (with --columns the first column is 60 wide). --column-hints
// gives the first column the hint "Names of the nodes" and the third the
// caption "Type of the content in the node", cut off at its width, and turns
// the tree's hints on; --header-hints does that too and shows the header's
// hints (resting on a column shows its hint, or a cut-off caption in full).
// With columns the
// report also has "positionI P", "widthI W" and "contentI W" (the width that
// fits the column's content) per column, "clicks C,C,..." (the header clicks
// so far, "-" for none), "splitcursor 0|1" (the column-resize cursor shows)
// and "systemmouse X,Y" (the screen point of the last mouse move the demo took
// from its queue, which a test waits for after moving the real pointer).
// With --report the tree answers the message WM_APP + 1 by writing its state
// to FILE (for the tests that drive the demo with window messages): one line
// "focused PATH", "hot PATH", "offset Y", "hotcursor 0|1", then one line
// "node PATH STATES CHECKSTATE" per node in tree order (a path is the
// indexes from the top level down, "0.2"; "-" for none).
// --strings makes it a string tree with three columns whose captions are
// edited in place (F2, or a click on the focused caption). WM_APP + 2 saves
// the nodes with their captions to the --save file; --load starts from a
// file saved so. The string tree's report has one line "caption:PATH HEX"
// per node (the main column's text as UTF-16 code units, four hex digits
// each) and "edited HEX" for the last text the editor gave.
// --two shows two string trees, A above B: A has the nodes (captions "A 0",
// "A 0.1"...), B starts empty (its own captions would be "B 0"...), so that
// copy, cut, paste and OLE drags between them can be tried. Each tree reports on
// WM_APP + 1 to the --report file; WM_APP + 3 sent to B frees A.
#include <windows.h>

#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "FileApi.h"
#include "Forms.h"
#include "Streams.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "VirtualStringTreesWin.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"
#include "Win32WidePlatform.h"

namespace {

// The screen point of the last mouse move this thread took from its queue:
// the moves the system makes for the real pointer, whichever loop takes them
// (the header's drag takes them itself, outside the window procedure).
POINT g_systemMouse{-32768, -32768};
LRESULT CALLBACK RecordMouseMoves(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* msg = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && msg && (msg->message == WM_MOUSEMOVE || msg->message == WM_NCMOUSEMOVE))
    g_systemMouse = msg->pt;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void PutBig32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((unsigned char)(v >> shift));
}

void Chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
  PutBig32(out, std::uint32_t(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0, out.data() + start, uInt(out.size() - start));
  PutBig32(out, std::uint32_t(crc));
}

// Writes 32-bit top-down BGRX pixels as an RGB PNG file.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height) {
  std::vector<unsigned char> raw;
  raw.reserve(std::size_t(height) * (std::size_t(width) * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
      raw.push_back((unsigned char)(p >> 16));
      raw.push_back((unsigned char)(p >> 8));
      raw.push_back((unsigned char)p);
    }
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  std::vector<unsigned char> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9) != Z_OK) return false;
  packed.resize(packedSize);
  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  PutBig32(header, std::uint32_t(width));
  PutBig32(header, std::uint32_t(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  Chunk(file, "IHDR", header);
  Chunk(file, "IDAT", packed);
  Chunk(file, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

// A tree whose cells show their node and column.
class TDemoTree : public TBaseVirtualTree {
  FW_CLASS(TDemoTree, TBaseVirtualTree)
 public:
  explicit TDemoTree(TComponent* owner) : TBaseVirtualTree(owner) {}

 protected:
  static std::u16string CellText(TVTNode* node, int column) {
    const std::string text = "Node " + std::to_string(node->Index) + (column > 0 ? "." + std::to_string(column) : "");
    return std::u16string(text.begin(), text.end());
  }
  std::string GetNodeHint(TVTNode* node, int column, bool text) override {
    if (!text) return TBaseVirtualTree::GetNodeHint(node, column, text);
    const std::u16string wide = CellText(node, column);
    return std::string(wide.begin(), wide.end());
  }
  int MeasureNodeWidth(TVTNode* node, int column) override {
    if (!HandleAllocated()) return 0;
    HDC dc = GetDC(WindowHandle());
    HGDIOBJ old = SelectObject(dc, GetFont()->Handle());
    const std::u16string text = CellText(node, column);
    SIZE size{};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()), int(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(WindowHandle(), dc);
    return size.cx;
  }
  void PaintNodeContent(TVTPaintInfo& info) override {
    HGDIOBJ old = SelectObject(info.DC, GetFont()->Handle());
    SetBkMode(info.DC, TRANSPARENT);
    SetTextColor(info.DC, ColorToRGB(GetFont()->GetColor()));
    RECT r = info.ContentRect;
    r.top = info.AlignLine - 7;
    DrawWideTextLines(info.DC, CellText(info.Node, info.Column), false,
                      DT_SINGLELINE | (info.Alignment == kAlignRight ? DT_RIGHT : 0), r);
    SelectObject(info.DC, old);
  }

  void Dispatch(TMessage& msg) override {
    if (msg.Msg == WM_APP + 1 && !ReportFile.empty()) {
      WriteReport();
      msg.Result = 1;
      return;
    }
    TBaseVirtualTree::Dispatch(msg);
  }

 public:
  std::string ReportFile;
  std::string Clicks;
  void HeaderClick(TVTHeader*, int column, TMouseButton, TShiftState, int, int) {
    Clicks += (Clicks.empty() ? "" : ",") + std::to_string(column);
  }
  static std::string Path(TVirtualTreeCore& core, TVTNode* node) {
    if (!node) return "-";
    std::string path;
    for (TVTNode* n = node; n; n = core.NodeLevel(n) == 0 ? nullptr : n->Parent)
      path = std::to_string(n->Index) + (path.empty() ? "" : "." + path);
    return path;
  }
  void WriteReport() {
    TVirtualTreeCore& core = Tree();
    FILE* f = std::fopen(ReportFile.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "focused %s\nhot %s\noffset %d\nhotcursor %d\n", Path(core, core.FocusedNode()).c_str(),
                 Path(core, core.HotNode()).c_str(), core.OffsetY(),
                 ::GetCursor() == ScreenCursorHandle(crHandPoint) ? 1 : 0);
    if (TVirtualTreeColumns* columns = GetHeader()->GetColumns(); columns->Count() > 0) {
      for (int i = 0; i < columns->Count(); ++i) {
        TVirtualTreeColumn* c = columns->ColumnAt(i);
        std::fprintf(f, "position%d %u\nwidth%d %d\ncontent%d %d\n", i, unsigned(c->GetPosition()), i, c->GetWidth(), i,
                     core.MeasureColumnContentWidth(i));
      }
      std::fprintf(f, "clicks %s\nsplitcursor %d\nsystemmouse %ld,%ld\n", Clicks.empty() ? "-" : Clicks.c_str(),
                   ::GetCursor() == ScreenCursorHandle(crHSplit) ? 1 : 0, long(g_systemMouse.x), long(g_systemMouse.y));
    }
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n))
      std::fprintf(f, "node %s %04x %d\n", Path(core, n).c_str(), unsigned(n->States), int(n->CheckState));
    std::fclose(f);
  }
  // The search: a node matches when its text, or its number, starts with the typed text.
  void Search(TObject*, TVTNode* node, const std::u16string& typed, int& result) {
    const std::u16string text = CellText(node, -1);
    const std::u16string number = text.substr(5);
    auto startsWith = [&typed](const std::u16string& s) {
      if (s.size() < typed.size()) return false;
      for (std::size_t i = 0; i < typed.size(); ++i) {
        const char16_t a = s[i] < 128 ? char16_t(std::tolower(int(s[i]))) : s[i];
        const char16_t b = typed[i] < 128 ? char16_t(std::tolower(int(typed[i]))) : typed[i];
        if (a != b) return false;
      }
      return true;
    };
    result = startsWith(text) || startsWith(number) ? 0 : 1;
  }
};

// clang-format off
FW_BEGIN_CLASS(TDemoTree)
FW_END_CLASS
// clang-format on

// The string tree of --strings: captions kept per node and column until the
// node goes; a caption never edited is "Node 12" (column 0) or "Node 12.1".
class TDemoStringTree : public TCustomVirtualStringTree {
  FW_CLASS(TDemoStringTree, TCustomVirtualStringTree)
 public:
  explicit TDemoStringTree(TComponent* owner) : TCustomVirtualStringTree(owner) {
    OnGetText = decltype(OnGetText)::Bind<&TDemoStringTree::Text>(this);
    OnNewText = decltype(OnNewText)::Bind<&TDemoStringTree::Edited>(this);
    Tree().OnFreeNode = decltype(Tree().OnFreeNode)::Bind<&TDemoStringTree::Freed>(this);
  }
  std::string ReportFile, SaveFile;
  // The start of a caption never edited.
  std::string Prefix = "Node ";
  // --two: the tree that WM_APP + 3 frees (B's is A).
  TDemoStringTree* Partner = nullptr;
  // --two: nodes may be dragged out of the tree (OLE drag and drop).
  void AllowDrags() { OnDragAllowed = decltype(OnDragAllowed)::Bind<&TDemoStringTree::DragAllowed>(this); }
  void Save() {
    if (SaveFile.empty()) return;
    TFileStream* stream = New<TFileStream>(SaveFile, fmCreate);
    try {
      Tree().SaveTreeToStream(*stream);
    } catch (...) {
      stream->Free();
      throw;
    }
    stream->Free();
  }

 protected:
  void Dispatch(TMessage& msg) override {
    if (msg.Msg == WM_APP + 1 && !ReportFile.empty()) {
      WriteReport();
      msg.Result = 1;
      return;
    }
    if (msg.Msg == WM_APP + 2) {
      Save();
      msg.Result = 1;
      return;
    }
    if (msg.Msg == WM_APP + 3) {
      msg.Result = Partner ? 1 : 0;
      FreeAndNil(Partner);
      return;
    }
    TCustomVirtualStringTree::Dispatch(msg);
  }

 private:
  void Text(TObject*, TVTNode* node, int column, int kind, std::u16string& text) {
    if (kind != ttNormal) return;
    const int c = column < 0 ? 0 : column;
    auto found = captions_.find({node, c});
    if (found != captions_.end()) {
      text = found->second;
      return;
    }
    const std::string plain = Prefix + std::to_string(node->Index) + (c > 0 ? "." + std::to_string(c) : "");
    text.assign(plain.begin(), plain.end());
  }
  void Edited(TObject*, TVTNode* node, int column, const std::u16string& text) {
    captions_[{node, column < 0 ? 0 : column}] = text;
    lastEdit_ = text;
  }
  void DragAllowed(TObject*, TVTNode*, int, bool& allowed) { allowed = true; }
  void Freed(TObject*, TVTNode* node) {
    for (int c = 0; c < 3; ++c) captions_.erase({node, c});
  }
  static std::string Hex(const std::u16string& text) {
    std::string hex;
    char unit[8];
    for (char16_t ch : text) {
      std::snprintf(unit, sizeof unit, "%04x", unsigned(ch));
      hex += unit;
    }
    return hex.empty() ? "-" : hex;
  }
  void WriteReport() {
    TVirtualTreeCore& core = Tree();
    FILE* f = std::fopen(ReportFile.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "focused %s\nediting %d\nedited %s\n", TDemoTree::Path(core, core.FocusedNode()).c_str(),
                 core.HasTreeState(tsEditing) ? 1 : 0, Hex(lastEdit_).c_str());
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n)) {
      const std::string path = TDemoTree::Path(core, n);
      std::fprintf(f, "node %s %04x %d\ncaption:%s %s\n", path.c_str(), unsigned(n->States), int(n->CheckState),
                   path.c_str(), Hex(CellText(n, 0)).c_str());
    }
    std::fclose(f);
  }
  std::map<std::pair<TVTNode*, int>, std::u16string> captions_;
  std::u16string lastEdit_;
};

// clang-format off
FW_BEGIN_CLASS(TDemoStringTree)
FW_END_CLASS
// clang-format on

// The client area, or with `window` the whole window (the non-client part
// through WM_PRINT, the client part at its place through WM_PRINTCLIENT).
bool Screenshot(TBaseVirtualTree* tree, const std::string& path, bool window) {
  RECT client;
  GetClientRect(tree->WindowHandle(), &client);
  POINT origin{0, 0};
  if (window) {
    RECT frame;
    GetWindowRect(tree->WindowHandle(), &frame);
    ClientToScreen(tree->WindowHandle(), &origin);
    origin.x -= frame.left;
    origin.y -= frame.top;
    client = RECT{0, 0, frame.right - frame.left, frame.bottom - frame.top};
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = client.right;
  info.bmiHeader.biHeight = -client.bottom;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!section) {
    DeleteDC(dc);
    return false;
  }
  HGDIOBJ old = SelectObject(dc, section);
  if (window) SendMessageW(tree->WindowHandle(), WM_PRINT, WPARAM(dc), PRF_NONCLIENT);
  SetViewportOrgEx(dc, origin.x, origin.y, nullptr);
  SendMessageW(tree->WindowHandle(), WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT);
  SetViewportOrgEx(dc, 0, 0, nullptr);
  GdiFlush();
  const bool ok = WritePng(path, static_cast<const std::uint32_t*>(bits), client.right, client.bottom);
  SelectObject(dc, old);
  DeleteObject(section);
  DeleteDC(dc);
  return ok;
}

// --strings: the string tree with three columns, editable in place.
int RunStringDemo(long nodes, long children, bool classic, const std::string& report, const std::string& save,
                  const std::string& load, const std::string& screenshot) {
  TForm* form = New<TForm>(Application);
  form->SetCaption("String tree demo");
  form->SetBounds(40, 40, 420, 480);
  auto* tree = New<TDemoStringTree>(form);
  tree->SetParent(form);
  tree->SetAlign(alClient);
  tree->ReportFile = report;
  tree->SaveFile = save;
  TVirtualTreeCore& core = tree->Tree();
  if (classic) core.OptionBits.Paint &= std::uint16_t(~voPaintThemed);
  core.OptionBits.Misc |= voEditable;
  core.OptionBits.Paint |= voShowVertGridLines | voShowHorzGridLines;
  TVTHeader* header = tree->GetHeader();
  static const char16_t* captions[] = {u"Name", u"Size", u"\u0422\u0438\u043f"};
  static const int widths[] = {160, 90, 90};
  for (int i = 0; i < 3; ++i) {
    auto* column = static_cast<TVirtualTreeColumn*>(header->GetColumns()->Add());
    column->SetText(captions[i]);
    column->SetWidth(widths[i]);
  }
  header->SetOptions(header->GetOptions() + TVTHeaderOptions{hoVisible});
  if (!load.empty()) {
    core.LoadTreeFromFile(load);
  } else {
    tree->SetRootNodeCount(std::uint32_t(nodes));
    std::uint32_t index = 0;
    for (TVTNode* n = core.FirstNode(); n; n = core.NextSiblingOf(n), ++index) {
      if (index % 5 == 0 && children > 0) core.SetChildCount(n, std::uint32_t(children));
    }
  }
  if (TVTNode* first = core.FirstNode()) {
    core.SetFocusedNode(first);
    core.SetNodeSelected(first, true);
  }
  tree->SetFocusedColumn(0);
  form->Show();
  tree->SetFocus();
  int status = 0;
  if (!screenshot.empty()) {
    Application->ProcessMessages();
    if (!Screenshot(tree, screenshot, true)) {
      std::fprintf(stderr, "treedemo: cannot write %s\n", screenshot.c_str());
      status = 1;
    }
  } else {
    Application->Run();
  }
  form->Free();
  return status;
}

// --two: string trees A (with the nodes) above B (empty), both multi-select.
int RunTwoTreeDemo(long nodes, long children, const std::string& report) {
  TForm* form = New<TForm>(Application);
  form->SetCaption("Two trees demo");
  form->SetBounds(40, 40, 420, 480);
  auto* a = New<TDemoStringTree>(form);
  a->SetParent(form);
  a->SetAlign(alTop);
  a->SetHeight(220);
  a->Prefix = "A ";
  auto* b = New<TDemoStringTree>(form);
  b->SetParent(form);
  b->SetAlign(alClient);
  b->Prefix = "B ";
  b->Partner = a;
  for (TDemoStringTree* tree : {a, b}) {
    tree->ReportFile = report;
    tree->Tree().SetMultiSelect(true);
    tree->Tree().OptionBits.Misc |= voAcceptOLEDrop;
    tree->AllowDrags();
  }
  TVirtualTreeCore& core = a->Tree();
  a->SetRootNodeCount(std::uint32_t(nodes));
  std::uint32_t index = 0;
  for (TVTNode* n = core.FirstNode(); n; n = core.NextSiblingOf(n), ++index) {
    if (index % 5 == 0 && children > 0) core.SetChildCount(n, std::uint32_t(children));
  }
  if (TVTNode* first = core.FirstNode()) {
    if (first->States & vsHasChildren) core.ToggleExpansion(first);
    core.SetFocusedNode(first);
    core.SetNodeSelected(first, true);
  }
  form->Show();
  a->SetFocus();
  Application->Run();
  form->Free();
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: treedemo [--nodes N] [--children N] [--checks none|box|tristate|radio|button]\n"
               "                [--column-count N] [--hints] [--column-hints] [--header-hints]\n"
               "                [--multiselect] [--columns] [--header-style thick|flat|plates|xp]\n"
               "                [--classic] [--hot] [--search] [--screenshot FILE.png] [--report FILE]\n"
               "                [--strings [--save FILE] [--load FILE]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long nodes = 50, children = 3;
  std::uint8_t checkType = ctNone;
  bool multiSelect = false, columns = false, classic = false, hot = false, search = false, hints = false;
  bool columnHints = false, headerHints = false;
  long columnCount = 3;
  TVTHeaderStyle headerStyle = hsThickButtons;
  std::string screenshot, report, save, load;
  bool strings = false;
  bool two = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    char* end = nullptr;
    if (arg == "--nodes" && hasValue) {
      nodes = std::strtol(argv[++i], &end, 10);
      if (*end || nodes < 0 || nodes > 10000000) return Usage();
    } else if (arg == "--children" && hasValue) {
      children = std::strtol(argv[++i], &end, 10);
      if (*end || children < 0 || children > 100000) return Usage();
    } else if (arg == "--checks" && hasValue) {
      const std::string kind = argv[++i];
      if (kind == "none")
        checkType = ctNone;
      else if (kind == "box")
        checkType = ctCheckBox;
      else if (kind == "tristate")
        checkType = ctTriStateCheckBox;
      else if (kind == "radio")
        checkType = ctRadioButton;
      else if (kind == "button")
        checkType = ctButton;
      else
        return Usage();
    } else if (arg == "--multiselect") {
      multiSelect = true;
    } else if (arg == "--columns") {
      columns = true;
    } else if (arg == "--classic") {
      classic = true;
    } else if (arg == "--hot") {
      hot = true;
    } else if (arg == "--search") {
      search = true;
    } else if (arg == "--hints") {
      hints = true;
    } else if (arg == "--column-hints" || arg == "--header-hints") {
      columnHints = true;
      headerHints = headerHints || arg == "--header-hints";
      columns = true;
    } else if (arg == "--column-count" && hasValue) {
      columnCount = std::strtol(argv[++i], &end, 10);
      if (*end || columnCount < 1 || columnCount > 20) return Usage();
      columns = true;
    } else if (arg == "--header-style" && hasValue) {
      const std::string style = argv[++i];
      if (style == "thick")
        headerStyle = hsThickButtons;
      else if (style == "flat")
        headerStyle = hsFlatButtons;
      else if (style == "plates")
        headerStyle = hsPlates;
      else if (style == "xp")
        headerStyle = hsXPStyle;
      else
        return Usage();
    } else if (arg == "--screenshot" && hasValue) {
      screenshot = argv[++i];
    } else if (arg == "--report" && hasValue) {
      report = argv[++i];
    } else if (arg == "--strings") {
      strings = true;
    } else if (arg == "--two") {
      two = true;
    } else if (arg == "--save" && hasValue) {
      save = argv[++i];
    } else if (arg == "--load" && hasValue) {
      load = argv[++i];
    } else {
      return Usage();
    }
  }

  InitWin32Platform();
  // The Unicode layer: the in-place editor of the string tree is a UTF-16 window.
  static Win32WidePlatform widePlatform;
  SetWidePlatform(&widePlatform);
  InitUcxSysUtils();
  InitUcxSystem();
  InitForms();
  InitVirtualTrees();
  int status = 0;
  try {
    if (two) {
      status = RunTwoTreeDemo(nodes, children, report);
      DoneVirtualTrees();
      DoneForms();
      return status;
    }
    if (strings) {
      status = RunStringDemo(nodes, children, classic, report, save, load, screenshot);
      DoneVirtualTrees();
      DoneForms();
      return status;
    }
    TForm* form = New<TForm>(Application);
    form->SetCaption("Tree view demo");
    form->SetBounds(40, 40, 420, 480);
    auto* tree = New<TDemoTree>(form);
    tree->SetParent(form);
    tree->SetAlign(alClient);
    TVirtualTreeCore& core = tree->Tree();
    if (classic) core.OptionBits.Paint &= std::uint16_t(~voPaintThemed);
    if (columns) {
      TVTHeader* header = tree->GetHeader();
      static const char16_t* captions[] = {u"Name", u"Size", u"\u0422\u0438\u043f"};
      static const int widths[] = {160, 90, 90};
      for (int i = 0; i < columnCount; ++i) {
        auto* column = static_cast<TVirtualTreeColumn*>(header->GetColumns()->Add());
        if (i < 3) {
          column->SetText(captions[i]);
        } else {
          const std::string caption = "Extra " + std::to_string(i);
          column->SetText(std::u16string(caption.begin(), caption.end()));
        }
        column->SetWidth(columnCount == 3 ? widths[i] : 70);
      }
      auto* first = static_cast<TVirtualTreeColumn*>(header->GetColumns()->Items(0));
      first->SetMinWidth(40);
      first->SetMaxWidth(250);
      if (hints) first->SetWidth(60);
      tree->OnHeaderClick = decltype(tree->OnHeaderClick)::Bind<&TDemoTree::HeaderClick>(tree);
      static_cast<TVirtualTreeColumn*>(header->GetColumns()->Items(1))->SetAlignment(taRightJustify);
      header->SetStyle(headerStyle);
      header->SetOptions(header->GetOptions() +
                         TVTHeaderOptions{hoVisible, hoShowSortGlyphs, hoHotTrack, hoDblClickResize, hoRestrictDrag});
      header->SetSortColumn(1);
      if (columnHints) {
        first->SetHint(u"Names of the nodes");
        if (columnCount >= 3)
          static_cast<TVirtualTreeColumn*>(header->GetColumns()->Items(2))->SetText(u"Type of the content in the node");
        if (headerHints) header->SetOptions(header->GetOptions() + TVTHeaderOptions{hoShowHint});
      }
      core.OptionBits.Paint |= voShowVertGridLines | voShowHorzGridLines;
    }
    core.SetMultiSelect(multiSelect);
    tree->ReportFile = report;
    if (hot) {
      core.OptionBits.Paint |= voHotTrack;
      tree->HotCursor = crHandPoint;
    }
    if (search) {
      tree->IncrementalSearch = isAll;
      tree->OnIncrementalSearch = decltype(tree->OnIncrementalSearch)::Bind<&TDemoTree::Search>(tree);
    }
    if (checkType != ctNone) core.OptionBits.Misc |= voCheckSupport;
    if (columnHints) {
      tree->SetShowHint(true);
      Application->HintPause = 100;
      Application->HintHidePause = 0;
    }
    if (hints) {
      tree->HintMode = 3;
      tree->SetShowHint(true);
      tree->SetHint("Tree view demo");  // the application asks for hints over controls that have one
      Application->HintPause = 100;
      Application->HintHidePause = 0;
    }
    tree->SetRootNodeCount(std::uint32_t(nodes));
    std::uint32_t index = 0;
    for (TVTNode* n = core.FirstNode(); n; n = core.NextSiblingOf(n), ++index) {
      if (index % 5 == 0 && children > 0) core.SetChildCount(n, std::uint32_t(children));
    }
    static const std::uint8_t kStates[] = {csUncheckedNormal, csCheckedNormal, csMixedNormal};
    index = 0;
    for (TVTNode* n = core.FirstNode(); n && checkType != ctNone; n = core.NextNode(n), ++index) {
      core.SetCheckType(n, checkType);
      n->CheckState = kStates[index % 3];
    }
    if (TVTNode* first = core.FirstNode()) {
      if (first->States & vsHasChildren) core.ToggleExpansion(first);
      core.SetFocusedNode(first);
      core.SetNodeSelected(first, true);
    }
    form->Show();
    tree->SetFocus();
    HHOOK moves = SetWindowsHookExA(WH_GETMESSAGE, &RecordMouseMoves, nullptr, GetCurrentThreadId());
    if (!screenshot.empty()) {
      Application->ProcessMessages();
      if (!Screenshot(tree, screenshot, columns)) {
        std::fprintf(stderr, "treedemo: cannot write %s\n", screenshot.c_str());
        status = 1;
      }
    } else {
      Application->Run();
    }
    if (moves) UnhookWindowsHookEx(moves);
    form->Free();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "treedemo: %s\n", e.what());
    status = 1;
  }
  DoneVirtualTrees();
  DoneForms();
  return status;
}
