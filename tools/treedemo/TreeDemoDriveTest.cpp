// Drives treedemo (the program given as the first argument) with window
// messages, as a user's mouse and keyboard would, and reads the tree's state
// from the report the demo writes on WM_APP + 1.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string demoPath;
constexpr int kRow = 18;

// One running treedemo and its tree's window.
class Demo {
 public:
  explicit Demo(const std::string& args) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    report_ = std::string(temp) + "treedemo-report-" + std::to_string(GetCurrentProcessId()) + ".txt";
    std::string command = "\"" + demoPath + "\" " + args + " --report \"" + report_ + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process_)) {
      ADD_FAILURE() << "cannot start " << command;
      return;
    }
    WaitForInputIdle(process_.hProcess, 10000);
    for (int i = 0; i < 500 && !tree_; ++i) {
      EnumThreadWindows(process_.dwThreadId, &Demo::FindForm, LPARAM(this));
      if (form_) tree_ = FindWindowExA(form_, nullptr, nullptr, nullptr);
      if (!tree_) Sleep(20);
    }
    if (!tree_) ADD_FAILURE() << "no tree window";
  }
  ~Demo() {
    if (form_) PostMessageA(form_, WM_CLOSE, 0, 0);
    if (process_.hProcess) {
      if (WaitForSingleObject(process_.hProcess, 3000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    DeleteFileA(report_.c_str());
  }
  bool Ready() const { return tree_ != nullptr; }
  HWND Tree() const { return tree_; }
  void Send(UINT msg, WPARAM wParam, int x, int y) { SendMessageA(tree_, msg, wParam, MAKELPARAM(x, y)); }
  // Puts the real mouse at a client point and tells the tree of the move.
  void MoveMouse(int x, int y) {
    POINT p{x, y};
    ClientToScreen(tree_, &p);
    SetCursorPos(p.x, p.y);
    Send(WM_MOUSEMOVE, 0, x, y);
  }
  void Click(int x, int y) {
    Send(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
    Send(WM_LBUTTONUP, 0, x, y);
  }
  void Key(WPARAM key, char ch = 0) {
    SendMessageA(tree_, WM_KEYDOWN, key, 1);
    if (ch) SendMessageA(tree_, WM_CHAR, WPARAM(static_cast<unsigned char>(ch)), 1);
    SendMessageA(tree_, WM_KEYUP, key, LPARAM(0xC0000001u));
  }

  // The tree's state now.
  struct Report {
    std::map<std::string, std::string> values;              // focused, hot, offset, hotcursor
    std::map<std::string, std::pair<unsigned, int>> nodes;  // path -> states, check state
    bool Expanded(const std::string& path) const { return nodes.count(path) && (nodes.at(path).first & 0x20); }
    int Check(const std::string& path) const { return nodes.count(path) ? nodes.at(path).second : -1; }
  };
  // --two: A is the upper tree, B the lower one.
  HWND Upper() const { return Sibling(true); }
  HWND Lower() const { return Sibling(false); }
  // The state of the tree `window` (null: the tree).
  Report Read(HWND window = nullptr) {
    Report r;
    if (SendMessageA(window ? window : tree_, WM_APP + 1, 0, 0) != 1) {
      ADD_FAILURE() << "no report";
      return r;
    }
    std::ifstream in(report_);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string key, a;
      words >> key >> a;
      if (key == "node") {
        std::string states;
        int check = 0;
        words >> states >> check;
        r.nodes[a] = {unsigned(std::stoul(states, nullptr, 16)), check};
      } else {
        r.values[key] = a;
      }
    }
    return r;
  }

 private:
  static BOOL CALLBACK FindForm(HWND window, LPARAM self) {
    auto* demo = reinterpret_cast<Demo*>(self);
    if (!IsWindowVisible(window) || GetWindow(window, GW_CHILD) == nullptr) return TRUE;
    demo->form_ = window;
    return FALSE;
  }
  HWND Sibling(bool upper) const {
    HWND best = nullptr;
    RECT bestRect{};
    for (HWND w = FindWindowExA(form_, nullptr, nullptr, nullptr); w; w = FindWindowExA(form_, w, nullptr, nullptr)) {
      RECT r;
      GetWindowRect(w, &r);
      if (!best || (upper ? r.top < bestRect.top : r.top > bestRect.top)) best = w, bestRect = r;
    }
    return best;
  }
  PROCESS_INFORMATION process_{};
  HWND form_ = nullptr;
  HWND tree_ = nullptr;
  std::string report_;
};

// Runs `done` against the message queue of this program (nothing to pump) until it holds or about five seconds passed.
template <class F>
bool WaitFor(F done) {
  for (int i = 0; i < 250 && !done(); ++i) Sleep(20);
  return done();
}

}  // namespace

// The header band lies above the client area: client y -8 is its middle.
constexpr int kBandY = -8;

// The window holding the mouse capture in the demo's thread (null: none).
HWND CaptureOf(Demo& demo) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(demo.Tree(), nullptr), &info);
  return info.hwndCapture;
}

// A non-client message at a client point of the band (non-client messages carry screen points).
// The real pointer goes where the message says first: a mouse move that the
// system makes up for the pointer (on a capture, say) then lands on the same
// point instead of starting a drag or a track somewhere else.
// The system's move reaches the demo whenever the demo gets to it, on a busy
// machine after the messages sent next: so the press waits until the demo has
// taken it (a move it took late, at a point the pointer left, would start a drag).
void PointerAt(Demo& demo, int x, int y) {
  POINT p{x, y};
  ClientToScreen(demo.Tree(), &p);
  POINT now{};
  if (GetCursorPos(&now) && now.x == p.x && now.y == p.y) return;
  SetCursorPos(p.x, p.y);
  // The move goes to the window holding the capture, or else to the one under
  // the point: when that is another program's, the demo never gets it.
  const HWND under = WindowFromPoint(p);
  const DWORD demoThread = GetWindowThreadProcessId(demo.Tree(), nullptr);
  if (!CaptureOf(demo) && !(under && GetWindowThreadProcessId(under, nullptr) == demoThread)) return;
  const std::string seen = std::to_string(p.x) + "," + std::to_string(p.y);
  std::string last;
  const auto taken = [&] { return (last = demo.Read().values["systemmouse"]) == seen; };
  // Now and then the system drops a move (seen under load, on a release of the
  // capture): the pointer steps off the point and back, which makes a new one.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (WaitFor(taken)) return;
    SetCursorPos(p.x + 1, p.y);
    SetCursorPos(p.x, p.y);
  }
  // A move the demo never takes cannot start anything unless the demo holds the
  // mouse, waiting for the next move of a drag or a track.
  if (CaptureOf(demo))
    ADD_FAILURE() << "the demo never took the system's mouse move to " << seen << " (last: " << last << ")";
}

void SendNC(Demo& demo, UINT msg, int x, int y = kBandY) {
  // A press takes the capture; the other messages leave the pointer alone.
  if (msg == WM_NCLBUTTONDOWN) PointerAt(demo, x, y);
  POINT p{x, y};
  ClientToScreen(demo.Tree(), &p);
  SendMessageA(demo.Tree(), msg, HTBORDER, MAKELPARAM(p.x, p.y));
}

// A move or release of the left button over the header band, the pointer there too.
void BandMessage(Demo& demo, UINT msg, WPARAM keys, int x) {
  PointerAt(demo, x, kBandY);
  demo.Send(msg, keys, x, kBandY);
}

// Presses on the band at x1, drags through the band to x2 and, unless `cancel`, releases there.
void DragColumn(Demo& demo, int x1, int x2, bool cancel = false) {
  SendNC(demo, WM_NCLBUTTONDOWN, x1);
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, x1 + (x2 > x1 ? 15 : -15));  // past the drag threshold
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, x2);
  if (cancel) SendMessageA(demo.Tree(), WM_KEYDOWN, VK_ESCAPE, 1);
  BandMessage(demo, WM_LBUTTONUP, 0, x2);
}

std::vector<int> Positions(Demo::Report& r, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(std::stoi(r.values["position" + std::to_string(i)]));
  return out;
}

// Five columns, 70 wide each: position p spans x 70p to 70p + 70.
TEST(TreeDemoDriveHeader, AColumnDraggedOntoAHalfOfAnotherTakesThePositionTheRuleGives) {
  struct Case {
    int from, onto;
    bool leftHalf;
    std::vector<int> positions;  // of columns 0 to 4 afterwards
  } cases[] = {
      {4, 2, false, {0, 1, 2, 4, 3}},  // position 4 onto the right half of 2: at 3
      {4, 2, true, {0, 1, 3, 4, 2}},   // onto its left half: at 2
      {1, 3, true, {0, 2, 1, 3, 4}},   // position 1 onto the left half of 3: at 2
  };
  for (const Case& c : cases) {
    Demo demo("--nodes 20 --column-count 5");
    ASSERT_TRUE(demo.Ready());
    DragColumn(demo, 70 * c.from + 35, 70 * c.onto + (c.leftHalf ? 15 : 55));
    Demo::Report r = demo.Read();
    EXPECT_EQ(Positions(r, 5), c.positions) << "from " << c.from << " onto " << c.onto;
    EXPECT_EQ(CaptureOf(demo), nullptr);
  }
}

TEST(TreeDemoDriveHeader, AMoveFromOneHalfOfTheTargetToItsOtherHalfKeepsTheTarget) {
  Demo demo("--nodes 20 --column-count 5");
  ASSERT_TRUE(demo.Ready());
  SendNC(demo, WM_NCLBUTTONDOWN, 4 * 70 + 35);
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 4 * 70 + 20);
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 2 * 70 + 15);  // the left half of position 2
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 2 * 70 + 55);  // then its right half, and released there
  BandMessage(demo, WM_LBUTTONUP, 0, 2 * 70 + 55);
  Demo::Report r = demo.Read();
  EXPECT_EQ(Positions(r, 5), (std::vector<int>{0, 1, 2, 4, 3}));
}

TEST(TreeDemoDriveHeader, EscapeDuringADragLeavesThePositionsAndReleasesTheCapture) {
  Demo demo("--nodes 20 --column-count 5");
  ASSERT_TRUE(demo.Ready());
  DragColumn(demo, 4 * 70 + 35, 2 * 70 + 55, true);
  Demo::Report r = demo.Read();
  EXPECT_EQ(Positions(r, 5), (std::vector<int>{0, 1, 2, 3, 4}));
  // The next drag works again from a clean state.
  DragColumn(demo, 4 * 70 + 35, 2 * 70 + 55);
  r = demo.Read();
  EXPECT_EQ(Positions(r, 5), (std::vector<int>{0, 1, 2, 4, 3}));
}

TEST(TreeDemoDriveHeader, AnEdgeDragResizesWithinMinAndMaxAndCancelModeRestoresTheWidth) {
  Demo demo("--nodes 20 --columns");
  ASSERT_TRUE(demo.Ready());
  // Column 0 is 160 wide (its edge at x 160), at least 40 and at most 250.
  SendNC(demo, WM_NCLBUTTONDOWN, 161);
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 165);  // tracking begins
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 200);
  EXPECT_EQ(demo.Read().values["width0"], "200");
  EXPECT_EQ(CaptureOf(demo), demo.Tree());
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 390);
  EXPECT_EQ(demo.Read().values["width0"], "250");
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 10);
  EXPECT_EQ(demo.Read().values["width0"], "40");
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 120);
  BandMessage(demo, WM_LBUTTONUP, 0, 120);
  EXPECT_EQ(demo.Read().values["width0"], "120");
  EXPECT_EQ(CaptureOf(demo), nullptr);
  // A track that loses the mouse to the system ends with the width it had.
  SendNC(demo, WM_NCLBUTTONDOWN, 121);
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 125);
  BandMessage(demo, WM_MOUSEMOVE, MK_LBUTTON, 220);
  SendMessageA(demo.Tree(), WM_CANCELMODE, 0, 0);
  BandMessage(demo, WM_MOUSEMOVE, 0, 300);
  EXPECT_EQ(demo.Read().values["width0"], "120");
  EXPECT_EQ(CaptureOf(demo), nullptr);
}

TEST(TreeDemoDriveHeader, ADoubleClickOnAnEdgeFitsTheColumnToItsContent) {
  Demo demo("--nodes 20 --columns");
  ASSERT_TRUE(demo.Ready());
  Demo::Report before = demo.Read();
  const int content = std::stoi(before.values["content0"]);
  ASSERT_NE(content, 160);
  SendNC(demo, WM_NCLBUTTONDBLCLK, 161);
  SendNC(demo, WM_NCLBUTTONUP, 161);
  Demo::Report after = demo.Read();
  EXPECT_EQ(std::stoi(after.values["width0"]), std::max(40, content));
  EXPECT_EQ(after.values["clicks"], "-") << "an edge double click is no caption click";
}

TEST(TreeDemoDriveHeader, TheSplitCursorShowsOverAColumnEdgeOnly) {
  Demo demo("--nodes 20 --columns");
  ASSERT_TRUE(demo.Ready());
  struct Case {
    int x;
    const char* split;
  } cases[] = {{157, "0"}, {158, "1"}, {164, "1"}, {165, "0"}, {60, "0"}};
  for (const Case& c : cases) {
    POINT p{c.x, kBandY};
    ClientToScreen(demo.Tree(), &p);
    SetCursorPos(p.x, p.y);
    SendMessageA(demo.Tree(), WM_SETCURSOR, WPARAM(demo.Tree()), MAKELPARAM(HTBORDER, WM_MOUSEMOVE));
    EXPECT_EQ(demo.Read().values["splitcursor"], c.split) << "x " << c.x;
  }
}

TEST(TreeDemoDriveHeader, AClickCountsOnlyOnTheColumnThatWasPressed) {
  Demo demo("--nodes 20 --columns");
  ASSERT_TRUE(demo.Ready());
  SendNC(demo, WM_NCLBUTTONDOWN, 200);  // the caption of column 1 (160 to 250)
  SendNC(demo, WM_NCLBUTTONUP, 200);
  EXPECT_EQ(demo.Read().values["clicks"], "1");
  // Pressed on column 1, released over column 2 (the capture brings the release to the client).
  // The real pointer stays at the press: moving it there first would make a
  // mouse move of the system's own, which past the threshold starts a column drag.
  SendNC(demo, WM_NCLBUTTONDOWN, 200);
  demo.Send(WM_LBUTTONUP, 0, 300, kBandY);
  EXPECT_EQ(demo.Read().values["clicks"], "1");
  SendNC(demo, WM_NCLBUTTONDOWN, 60);
  SendNC(demo, WM_NCLBUTTONUP, 60);
  EXPECT_EQ(demo.Read().values["clicks"], "1,0");
  // Right and middle releases click the column under the mouse, pressed there or not.
  SendNC(demo, WM_NCRBUTTONUP, 300);
  SendNC(demo, WM_NCMBUTTONUP, 200);
  EXPECT_EQ(demo.Read().values["clicks"], "1,0,2,1");
}

// A visible hint window of the tree's hint class, or null.
HWND VisibleTreeHint() {
  HWND hint = FindWindowA("TVirtualTreeHintWindow", nullptr);
  return hint && IsWindowVisible(hint) ? hint : nullptr;
}

TEST(TreeDemoDriveHint, RestingOnACutOffCellShowsItsTextAtTheCellAndMovingAwayHidesIt) {
  Demo demo("--nodes 20 --columns --hints");
  ASSERT_TRUE(demo.Ready());
  // Row 1 is node 0.0, indented one level: "Node 0" does not fit the 60 pixels of column 0.
  const int y = kRow + 9;
  HWND hint = nullptr;
  EXPECT_TRUE(WaitFor([&] {
    demo.MoveMouse(45, y);
    hint = VisibleTreeHint();
    return hint != nullptr;
  }));
  ASSERT_NE(hint, nullptr);
  RECT window, row{0, kRow, 60, 2 * kRow};
  GetWindowRect(hint, &window);
  MapWindowPoints(demo.Tree(), nullptr, reinterpret_cast<POINT*>(&row), 2);
  // The hint starts inside the column's cell and reaches past its right edge: the whole text shows.
  EXPECT_GE(window.left, row.left);
  EXPECT_LT(window.left, row.right);
  EXPECT_GT(window.right, row.right);
  EXPECT_LE(window.top, row.top + 2);
  EXPECT_GE(window.bottom, row.bottom - 2);
  // The mouse goes to the form (beside the tree): the hint goes.
  SendMessageA(GetParent(demo.Tree()), WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
  EXPECT_TRUE(WaitFor([&] { return VisibleTreeHint() == nullptr; }));
}

// The mouse (the display's pointer too, which the header's timer reads) rests at x over the band.
void RestOnBand(Demo& demo, int x) {
  POINT p{x, kBandY};
  ClientToScreen(demo.Tree(), &p);
  SetCursorPos(p.x, p.y);
  SendNC(demo, WM_NCMOUSEMOVE, x);
}

std::wstring WindowText(HWND window) {
  wchar_t text[128] = {};
  GetWindowTextW(window, text, 128);
  return text;
}

// --columns: Name 0 to 160, Size 160 to 250, the third 250 to 340; with the
// column hints the first has a hint and the third's caption is cut off.
TEST(TreeDemoDriveHint, RestingOnAHeaderColumnShowsItsHintOrItsCutOffCaptionNearTheColumn) {
  Demo demo("--nodes 20 --columns --header-hints");
  ASSERT_TRUE(demo.Ready());
  RECT client;
  GetClientRect(demo.Tree(), &client);
  MapWindowPoints(demo.Tree(), nullptr, reinterpret_cast<POINT*>(&client), 2);
  struct Case {
    int x;
    int columnLeft;
    const wchar_t* text;
  } cases[] = {
      {40, 0, L"Names of the nodes"},
      {295, 250, L"Type of the content in the node"},
  };
  for (const Case& c : cases) {
    RestOnBand(demo, c.x);
    HWND hint = nullptr;
    EXPECT_TRUE(WaitFor([&] {
      hint = VisibleTreeHint();
      return hint && WindowText(hint) == c.text;
    })) << "x "
        << c.x;
    if (!hint) continue;
    RECT window;
    GetWindowRect(hint, &window);
    // Just below the band, from the column's left edge.
    EXPECT_EQ(window.left, client.left + c.columnLeft) << "x " << c.x;
    EXPECT_GE(window.top, client.top - 2) << "x " << c.x;
    EXPECT_LE(window.top, client.top + 4) << "x " << c.x;
    EXPECT_GT(window.right - window.left, 60) << "the whole text shows";
  }
  // Size: no hint and its caption fits, so the hint goes and none comes.
  RestOnBand(demo, 205);
  EXPECT_TRUE(WaitFor([] { return VisibleTreeHint() == nullptr; }));
  Sleep(400);
  EXPECT_EQ(VisibleTreeHint(), nullptr);
  // Back on the first column, then off the band into the rows: the hint goes.
  RestOnBand(demo, 40);
  ASSERT_TRUE(WaitFor([] { return VisibleTreeHint() != nullptr; }));
  demo.MoveMouse(40, 5 * kRow + 9);
  EXPECT_TRUE(WaitFor([] { return VisibleTreeHint() == nullptr; }));
}

TEST(TreeDemoDriveHint, WithoutHeaderHintsTheBandShowsNoHint) {
  Demo demo("--nodes 20 --columns --column-hints");
  ASSERT_TRUE(demo.Ready());
  for (int x : {40, 295}) {
    RestOnBand(demo, x);
    Sleep(400);  // four times the demo's hint pause
    EXPECT_EQ(VisibleTreeHint(), nullptr) << "x " << x;
  }
}

// Rows of the default demo: Node 0 expanded (its children 0.0 to 0.2 in rows
// 1 to 3), then Node 1 in row 4 ... Node 5 (with children, collapsed) in row 8.
// A top-level button sits at x 13; captions start at x 18 (at 36 with check boxes).
TEST(TreeDemoDrive, AButtonClickExpandsAndADoubleClickOnACaptionToggles) {
  Demo demo("--nodes 50");
  ASSERT_TRUE(demo.Ready());
  EXPECT_FALSE(demo.Read().Expanded("5"));
  demo.Click(13, 8 * kRow + 9);
  EXPECT_TRUE(demo.Read().Expanded("5"));
  ASSERT_TRUE(demo.Read().Expanded("0"));
  demo.Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 40, 9);
  demo.Send(WM_LBUTTONUP, 0, 40, 9);
  EXPECT_FALSE(demo.Read().Expanded("0"));
}

TEST(TreeDemoDrive, SpaceOnATriStateChildMixesItsParentWithThePressedLookBetween) {
  // The states cycle unchecked, checked, mixed in tree order: Node 0 unchecked,
  // 0.0 checked, 0.1 mixed, 0.2 unchecked.
  Demo demo("--nodes 50 --checks tristate");
  ASSERT_TRUE(demo.Ready());
  demo.Click(60, kRow + 9);  // the caption of 0.0
  Demo::Report before = demo.Read();
  ASSERT_EQ(before.values["focused"], "0.0");
  ASSERT_EQ(before.Check("0.0"), 2);
  SendMessageA(demo.Tree(), WM_KEYDOWN, VK_SPACE, 1);
  EXPECT_EQ(demo.Read().Check("0.0"), 3) << "the pressed look";
  SendMessageA(demo.Tree(), WM_KEYUP, VK_SPACE, LPARAM(0xC0000001u));
  const Demo::Report after = demo.Read();
  EXPECT_EQ(after.Check("0.0"), 0);
  EXPECT_EQ(after.Check("0"), 4) << "one child mixed, none checked: the parent is mixed";
}

TEST(TreeDemoDrive, TypingTheSameCharacterTwiceStepsToTheNextMatch) {
  Demo demo("--nodes 50 --search");
  ASSERT_TRUE(demo.Ready());
  demo.Key('2', '2');
  EXPECT_EQ(demo.Read().values["focused"], "0.2");
  demo.Key('2', '2');
  EXPECT_EQ(demo.Read().values["focused"], "2");
}

TEST(TreeDemoDrive, TheMiddleButtonPansAndTimerFourScrollsBelowTheAnchor) {
  Demo demo("--nodes 300");
  ASSERT_TRUE(demo.Ready());
  demo.Send(WM_MBUTTONDOWN, MK_MBUTTON, 150, 100);
  HWND panning = FindWindowA("VTPanningWindow", nullptr);
  ASSERT_NE(panning, nullptr);
  EXPECT_TRUE(IsWindowVisible(panning));
  RECT bounds;
  GetWindowRect(panning, &bounds);
  EXPECT_EQ(bounds.right - bounds.left, 32);
  demo.Send(WM_MBUTTONUP, 0, 150, 100);
  POINT below{150, 300};
  ClientToScreen(demo.Tree(), &below);
  // The mouse keeps moving there; once the auto-scroll delay has passed, timer 4 scrolls. The real pointer is put
  // back each time: other tests of the run share the display's pointer and may move it meanwhile.
  EXPECT_TRUE(WaitFor([&] {
    SetCursorPos(below.x, below.y);
    demo.Send(WM_MOUSEMOVE, 0, 150, 300);
    return std::stoi(demo.Read().values["offset"]) < 0;
  }));
  demo.Click(150, 300);
  EXPECT_EQ(FindWindowA("VTPanningWindow", nullptr), nullptr);
}

TEST(TreeDemoDrive, AMoveOverACaptionMakesTheHotNodeAndTheHandCursor) {
  Demo demo("--nodes 50 --hot");
  ASSERT_TRUE(demo.Ready());
  // The real mouse goes there too: the system's own moves then agree with the sent ones.
  demo.MoveMouse(40, 4 * kRow + 9);
  SendMessageA(demo.Tree(), WM_SETCURSOR, WPARAM(demo.Tree()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  Demo::Report r = demo.Read();
  EXPECT_EQ(r.values["hot"], "1");
  EXPECT_EQ(r.values["hotcursor"], "1");
  demo.MoveMouse(250, 4 * kRow + 9);  // beside the caption
  EXPECT_EQ(demo.Read().values["hot"], "-");
}

// The string tree's in-place editor: F2 on the focused node, UTF-16
// characters typed into the editor and Enter give the new-text event exactly
// that text; Esc abandons and Tab never reaches the text. The captions then
// survive a save to a file and a load in a new demo.
TEST(TreeDemoDrive, TheStringTreeEditsInPlaceAndItsCaptionsSurviveSaveAndLoad) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string file = std::string(temp) + "treedemo-strings-" + std::to_string(GetCurrentProcessId()) + ".vtn";
  auto captions = [](const Demo::Report& r) {
    std::map<std::string, std::string> result;
    for (const auto& [key, value] : r.values)
      if (key.rfind("caption:", 0) == 0) result[key] = value;
    return result;
  };
  std::map<std::string, std::string> saved;
  {
    Demo demo("--strings --classic --nodes 6 --save \"" + file + "\"");
    ASSERT_TRUE(demo.Ready());
    demo.Key(VK_F2);
    HWND edit = FindWindowExA(demo.Tree(), nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(IsWindowVisible(edit));
    SendMessageW(edit, WM_CHAR, 0x03A9, 1);
    SendMessageW(edit, WM_CHAR, L'1', 1);
    SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
    Demo::Report r = demo.Read();
    EXPECT_EQ(r.values["edited"], "03a90031");
    EXPECT_EQ(r.values["caption:0"], "03a90031");
    EXPECT_EQ(r.values["editing"], "0");

    demo.Key(VK_DOWN);
    demo.Key(VK_F2);
    edit = FindWindowExA(demo.Tree(), nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(demo.Read().values["editing"], "1");
    SendMessageW(edit, WM_CHAR, L'x', 1);
    SendMessageW(edit, WM_CHAR, VK_TAB, 1);
    wchar_t typed[16] = {};
    SendMessageW(edit, WM_GETTEXT, 16, LPARAM(typed));
    EXPECT_EQ(std::wstring(typed), L"x");
    SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);
    r = demo.Read();
    EXPECT_EQ(r.values["editing"], "0");
    EXPECT_EQ(r.values["edited"], "03a90031");
    EXPECT_EQ(r.values["caption:1"], "004e006f0064006500200031");  // "Node 1"
    saved = captions(r);
    ASSERT_EQ(SendMessageA(demo.Tree(), WM_APP + 2, 0, 0), 1);
  }
  {
    Demo demo("--strings --classic --load \"" + file + "\"");
    ASSERT_TRUE(demo.Ready());
    EXPECT_EQ(captions(demo.Read()), saved);
  }
  EXPECT_GE(saved.size(), 6u);
  DeleteFileA(file.c_str());
}

// --two: the captions of a report as text ("caption:PATH" -> text), in path order.
std::map<std::string, std::string> Captions(const Demo::Report& report) {
  std::map<std::string, std::string> captions;
  for (const auto& [key, hex] : report.values) {
    if (key.rfind("caption:", 0) != 0) continue;
    std::string text;
    for (std::size_t i = 0; i + 4 <= hex.size() && hex != "-"; i += 4)
      text += char(std::stoul(hex.substr(i, 4), nullptr, 16));
    captions[key.substr(8)] = text;
  }
  return captions;
}

TEST(TreeDemoDrive, TwoTreesCopyCutAndPasteTheirNodesWithCaptions) {
  Demo demo("--two --nodes 3 --children 2");
  ASSERT_TRUE(demo.Ready());
  HWND a = demo.Upper(), b = demo.Lower();
  ASSERT_NE(a, b);
  const std::map<std::string, std::string> first = {{"0", "A 0"}, {"0.0", "A 0"}, {"0.1", "A 1"}};

  // Copy in A (its first node with its two children is selected), paste in B at its end.
  SendMessageA(a, WM_COPY, 0, 0);
  SendMessageA(b, WM_PASTE, 0, 0);
  EXPECT_EQ(Captions(demo.Read(b)), first);
  EXPECT_EQ(Captions(demo.Read(a)).size(), 5u);

  // Cut in A, paste in B: A loses the nodes, B has them twice.
  SendMessageA(a, WM_CUT, 0, 0);
  SendMessageA(b, WM_PASTE, 0, 0);
  std::map<std::string, std::string> twice = first;
  twice.insert({{"1", "A 0"}, {"1.0", "A 0"}, {"1.1", "A 1"}});
  EXPECT_EQ(Captions(demo.Read(b)), twice);
  EXPECT_EQ(Captions(demo.Read(a)), (std::map<std::string, std::string>{{"0", "A 0"}, {"1", "A 1"}}));
}

TEST(TreeDemoDrive, PastingAfterTheCopiedTreeWentTouchesNothingOfIt) {
  Demo demo("--two --nodes 3 --children 2");
  ASSERT_TRUE(demo.Ready());
  HWND b = demo.Lower();
  SendMessageA(demo.Upper(), WM_COPY, 0, 0);
  ASSERT_EQ(SendMessageA(b, WM_APP + 3, 0, 0), 1);  // B frees A
  EXPECT_EQ(demo.Upper(), b);                       // B is the form's only tree now
  SendMessageA(b, WM_PASTE, 0, 0);
  EXPECT_TRUE(Captions(demo.Read(b)).empty());  // the clipboard no longer holds A's nodes, and B still answers
}

// The real mouse (the display's pointer, as a user's hand moves it) at a client point of `window`.
void MouseInput(HWND window, int x, int y, DWORD buttons) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = LONG((p.x * 65535) / (GetSystemMetrics(SM_CXSCREEN) - 1));
  input.mi.dy = LONG((p.y * 65535) / (GetSystemMetrics(SM_CYSCREEN) - 1));
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
  SendInput(1, &input, sizeof input);
  Sleep(50);
}

TEST(TreeDemoDrive, DraggingNodesFromAToBCopiesThemWithTheirCaptions) {
  Demo demo("--two --nodes 3 --children 2");
  ASSERT_TRUE(demo.Ready());
  HWND a = demo.Upper(), b = demo.Lower();
  // The system's mouse input goes to the topmost window under the pointer, and
  // other programs' windows share the display: the demo comes to the front first.
  ASSERT_TRUE(WaitFor([&] {
    if (GetForegroundWindow() == GetParent(a)) return true;
    SetForegroundWindow(GetParent(a));
    return false;
  }));
  // Press on A's first caption, move past the drag threshold and over to B, release there.
  MouseInput(a, 40, 9, 0);
  MouseInput(a, 40, 9, MOUSEEVENTF_LEFTDOWN);
  for (int step = 1; step <= 4; ++step) MouseInput(a, 40 + 4 * step, 9 + 4 * step, 0);
  for (int step = 0; step <= 4; ++step) MouseInput(b, 60 + 5 * step, 60 + 5 * step, 0);
  MouseInput(b, 80, 80, MOUSEEVENTF_LEFTUP);
  EXPECT_TRUE(WaitFor([&] { return Captions(demo.Read(b)).count("0") != 0; }));
  const auto dropped = Captions(demo.Read(b));
  EXPECT_EQ(dropped, (std::map<std::string, std::string>{{"0", "A 0"}, {"0.0", "A 0"}, {"0.1", "A 1"}}));
  EXPECT_EQ(Captions(demo.Read(a)).size(), 5u);  // a copy: A keeps its nodes
}

TEST(TreeDemoDrive, ADragDropsOnTheRowUnderThePointerWithTheFormAwayFromTheScreenOrigin) {
  // B holds four nodes; the pointer is released over B's third row, right of
  // its caption: in the row's upper half the copy goes above it, in its lower half below it.
  struct Case {
    int dy;
    const char* path;  // where A's first node arrives in B
  };
  for (const Case& c : {Case{3, "2"}, Case{14, "3"}}) {
    SCOPED_TRACE(c.dy);
    Demo demo("--two --nodes 3 --children 0 --lower-nodes 4 --at 300,200");
    ASSERT_TRUE(demo.Ready());
    HWND a = demo.Upper(), b = demo.Lower();
    POINT origin{0, 0};
    ClientToScreen(b, &origin);
    ASSERT_GE(origin.x, 300);
    ASSERT_GE(origin.y, 200);
    ASSERT_TRUE(WaitFor([&] {
      if (GetForegroundWindow() == GetParent(a)) return true;
      SetForegroundWindow(GetParent(a));
      return false;
    }));
    const int row = 18, y = 2 * row + c.dy;
    MouseInput(a, 40, 9, 0);
    MouseInput(a, 40, 9, MOUSEEVENTF_LEFTDOWN);
    for (int step = 1; step <= 4; ++step) MouseInput(a, 40 + 4 * step, 9 + 4 * step, 0);
    for (int step = 0; step <= 4; ++step) MouseInput(b, 200 + 5 * step, y + (4 - step), 0);
    MouseInput(b, 220, y, MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(WaitFor([&] { return Captions(demo.Read(b)).size() == 5; }));
    const auto dropped = Captions(demo.Read(b));
    ASSERT_EQ(dropped.count(c.path), 1u);
    EXPECT_EQ(dropped.at(c.path), "A 0");
  }
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: treedemo_drive_tests TREEDEMO_EXE\n");
    return 2;
  }
  demoPath = argv[1];
  // A path of the build machine reaches Wine's programs through drive Z:.
  if (!demoPath.empty() && demoPath[0] == '/') {
    for (char& c : demoPath)
      if (c == '/') c = '\\';
    demoPath = "Z:" + demoPath;
  }
  return RUN_ALL_TESTS();
}
