// The tree view's unit, portable half: what every tree of the process shares
// and the free routines the tree's parts use.
//
// - the tree's error (`EVirtualTreeError`, its code as help context);
// - the node record's header and the node's tree (`OwnerTreeOfNode`);
// - rectangle and pointer-sorting routines;
// - shortening and line splitting of wide text, measured through a callback;
// - the rectangles of a moving drag image;
// - the four alpha-blending line modes over 32-bit pixel rows, and the
//   processor's MMX flag;
// - the clipboard format registry with its priorities;
// - the growing text buffers;
// - the worker thread that builds the position caches of large trees.
//
// The Win32 half (win/VirtualTreesWin.h) adds the tree classes, the unit's
// start-up and shut-down, the image lists and the GDI drawing.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "Object.h"
#include "Thread.h"

// --- Errors ----------------------------------------------------------------------------------------

FW_EXCEPTION(EVirtualTreeError, Exception);

// Raises EVirtualTreeError with the message in the ANSI code page and `code`
// as the help context.
[[noreturn]] void RaiseTreeError(const std::u16string& message, int code);

// --- Nodes -----------------------------------------------------------------------------------------

// The header of a node's memory block. The internal data areas and the user
// data follow it. Both sibling links of the hidden root node point to the
// root itself; its Parent is null, and its block starts with a
// TVTRootPrefix that names the tree.
struct TVTNode {
  std::uint32_t Index;
  std::uint32_t ChildCount;
  std::uint16_t NodeHeight;
  std::uint16_t States;
  std::uint8_t Align;
  std::uint8_t CheckState;
  std::uint8_t CheckType;
  std::uint32_t TotalCount;
  std::uint32_t TotalHeight;
  TVTNode* Parent;
  TVTNode* PrevSibling;
  TVTNode* NextSibling;
  TVTNode* FirstChild;
  TVTNode* LastChild;
};

// What comes in front of the root's header in its block.
class TVirtualTreeCore;
struct TVTRootPrefix {
  TObject* Tree;
  TVirtualTreeCore* Core = nullptr;  // the tree's portable half
};
static_assert(sizeof(TVTRootPrefix) % alignof(TVTNode) == 0);

// The tree that owns the node: the tree named in front of the root reached by
// climbing Parent links (the root is the node that is its own NextSibling).
// Null for null.
TObject* OwnerTreeOfNode(const TVTNode* node);

// --- Rectangles and sorting ------------------------------------------------------------------------

struct TVTRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  friend bool operator==(const TVTRect&, const TVTRect&) = default;
};

// The rectangle with Left <= Right and Top <= Bottom (each axis swapped when needed).
TVTRect NormalizeRect(const TVTRect& source);

// Sorts items[low..high] (inclusive) in ascending order of their addresses.
void QuickSortPointers(void** items, std::ptrdiff_t low, std::ptrdiff_t high);

// --- Wide text -------------------------------------------------------------------------------------

// The width of a text in the current font, in pixels.
using TTextWidthMeasurer = std::function<int(std::u16string_view)>;

// `text` cut to fit `width` with "..." appended (or put in front with
// `ellipsisInFront`). An ellipsis width of 0 measures "...". Empty when the
// text or the width is empty or the ellipsis alone does not fit. A text that
// fits as a whole is still cut: callers call this only for text too wide.
std::u16string ShortenWideText(const TTextWidthMeasurer& measure, std::u16string_view text, int width,
                               int ellipsisWidth, bool ellipsisInFront);

// The lines of a text, split at NUL, CR, LF and U+2028 (LINE SEPARATOR); a
// CR LF pair is one break. A break at the very end starts no further line;
// an empty text has no lines.
std::vector<std::u16string_view> SplitWideTextLines(std::u16string_view text);

// --- Drag image moves ------------------------------------------------------------------------------

// The rectangles for moving a width x height image by (dx, dy), all in the
// coordinates of the image's old place (the new place is the old one shifted
// by (dx, dy)). Scroll: the part of the saved background that stays under the
// image, in old coordinates (it moves by -(dx, dy) within the saved picture).
// Uncovered[0] (vertical, |dx| wide) and Uncovered[1] (horizontal, |dy| high)
// are the parts of the old area the image leaves; Covered[0] and Covered[1]
// the parts of the new area it newly covers. A zero dx or dy leaves its strips
// empty. Together the scroll part and the strips cover every pixel of the old
// and new areas exactly once, as long as |dx| < width and |dy| < height.
struct TDragMoveRects {
  TVTRect Whole;  // (0, 0, width, height)
  TVTRect Scroll;
  TVTRect Uncovered[2];
  TVTRect Covered[2];
};
TDragMoveRects ComputeDragMoveRects(int width, int height, int dx, int dy);

// --- Alpha blending --------------------------------------------------------------------------------

// True when the processor has MMX (always on x86_64); callers that draw
// blended pieces test it. Read from CPUID on first use.
bool MMXAvailable();

// One row of `count` 32-bit pixels (bytes B, G, R, A), every channel alike:
// mode 0, constant alpha: d := d + ((s - d) * alpha >> 8) + bias;
// mode 1, per-pixel alpha: the same with alpha from the source pixel's alpha byte;
// mode 2, master alpha: as mode 1 with alpha := source alpha * master alpha >> 8;
// mode 3, towards a colour: d := (colour * alpha + d * (256 - alpha)) >> 8, the
//   colour given as a COLORREF (0x00BBGGRR) in `bias`; the source is not read.
// Modes 0 to 2 saturate each channel to 0..255. Other modes do nothing.
void AlphaBlendLine(const std::uint32_t* source, std::uint32_t* destination, int count, int mode, int alpha, int bias);

// --- Clipboard formats -----------------------------------------------------------------------------

// The COM format record (FORMATETC) in portable form.
struct TFormatEtc {
  std::uint16_t cfFormat = 0;
  void* ptd = nullptr;
  std::uint32_t dwAspect = 1;  // DVASPECT_CONTENT
  std::int32_t lindex = -1;
  std::uint32_t tymed = 1;  // TYMED_HGLOBAL
  friend bool operator==(const TFormatEtc&, const TFormatEtc&) = default;
};

struct TClipboardFormatEntry {
  std::string Description;
  const ClassInfo* TreeClass = nullptr;  // the tree class that renders the format
  std::int32_t Priority = 0;             // lower values first
  TFormatEtc FormatEtc;
};

// The formats trees can render, kept in ascending order of priority.
class TClipboardFormatList : public TObject {
  FW_CLASS(TClipboardFormatList, TObject)

 public:
  void Destroy() override;
  void Add(const std::string& description, const ClassInfo* treeClass, std::int32_t priority,
           const TFormatEtc& formatEtc);
  void Clear();
  std::size_t Count() const { return entries_.size(); }
  const TClipboardFormatEntry& Item(std::size_t index) const { return *entries_.at(index); }
  // The records of every format whose tree class is `treeClass` or one of its
  // ancestors, in ascending priority.
  std::vector<TFormatEtc> CollectFormatsForClass(const ClassInfo& treeClass) const;
  // The entry whose description equals `name` (ignoring case), searched from
  // the highest priority value down; null when there is none.
  const TClipboardFormatEntry* FindByDescription(std::string_view name) const;
  // The same, as the tree class with the format id in `formatId`.
  const ClassInfo* FindByDescription(std::string_view name, std::uint16_t& formatId) const;

 private:
  std::vector<std::unique_ptr<TClipboardFormatEntry>> entries_;
};

// The system's registry of clipboard format names (RegisterClipboardFormatA
// and GetClipboardFormatNameA on Windows; tests give their own).
class ClipboardFormatApi {
 public:
  virtual ~ClipboardFormatApi() = default;
  // The id for a format name, registering it when new; 0 on failure.
  virtual std::uint16_t Register(const std::string& name) = 0;
  // The registered name of a format id; empty when the system knows none.
  virtual std::string Name(std::uint16_t id) = 0;
};
// Installs the registry (null: none; formats then cannot be registered).
void SetClipboardFormatApi(ClipboardFormatApi* api);
ClipboardFormatApi* GetClipboardFormatApi();

// The process's format list: exists between the unit's start-up and shut-down.
TClipboardFormatList* ClipboardFormats();
void CreateClipboardFormats();
void FreeClipboardFormats();

// Registers `description` with the system and adds it to the process's list.
// The format id; 0 (and nothing added) when the system refuses the name or
// there is no list.
std::uint16_t RegisterCustomClipboardFormat(const std::string& description, const ClassInfo* treeClass,
                                            std::int32_t priority, std::uint32_t tymed = 1, void* ptd = nullptr,
                                            std::uint32_t aspect = 1, std::int32_t lindex = -1);
// Adds a predefined format (ptd null, aspect content, lindex -1, global
// memory) under its description: for ids 1 to 16 the name of the table below,
// for others the name the system gives. An id of 16 or below that the table
// lacks adds nothing.
void RegisterPredefinedClipboardFormat(std::uint16_t formatId, const ClassInfo* treeClass, std::int32_t priority);
// The description of a predefined format id 1..16 ("Plain text" ...), or null.
const char* PredefinedFormatDescription(std::uint16_t formatId);

// The format ids registered at start-up (0 before).
extern std::uint16_t CF_VTREFERENCE;  // "Virtual Tree Reference"
extern std::uint16_t CF_VIRTUALTREE;  // "Virtual Tree Data"
extern std::uint16_t CF_HTML;         // "HTML Format"
extern std::uint16_t CF_VRTFNOOBJS;   // "Rich Text Format Without Objects"
extern std::uint16_t CF_VRTF;         // "Rich Text Format"
extern std::uint16_t CF_CSV;          // "CSV"

// The unit's formats, in their order: "Virtual Tree Data" for the base tree
// (priority 50), then for the string tree "HTML Format" 80, "Rich Text Format
// Without Objects" 84, "Rich Text Format" 85, "CSV" 90, and the predefined
// CF_TEXT (100) and CF_UNICODETEXT (95).
void RegisterVirtualTreeFormats(const ClassInfo& baseTree, const ClassInfo& stringTree);
// Clears the ids that RegisterVirtualTreeFormats and the reference format set.
void ForgetVirtualTreeFormats();

// --- Text buffers ----------------------------------------------------------------------------------

// A growing text in one heap block: start, write position and end, all null
// until the first append. The block grows in steps of `Step` characters, and
// at least doubles and always grows far enough for what is appended.
template <class Char, std::size_t Step>
class TTextBuffer {
 public:
  TTextBuffer() = default;
  TTextBuffer(const TTextBuffer&) = delete;
  TTextBuffer& operator=(const TTextBuffer&) = delete;
  ~TTextBuffer() { std::free(start_); }

  void AppendText(std::basic_string_view<Char> text) {
    if (text.empty()) return;
    Reserve(text.size());
    std::char_traits<Char>::copy(position_, text.data(), text.size());
    position_ += text.size();
  }
  void AppendLineBreak() {
    static constexpr Char kBreak[2] = {Char('\r'), Char('\n')};
    AppendText(std::basic_string_view<Char>(kBreak, 2));
  }
  std::basic_string<Char> ExtractText() const {
    return start_ ? std::basic_string<Char>(start_, position_) : std::basic_string<Char>();
  }
  std::size_t Length() const { return static_cast<std::size_t>(position_ - start_); }
  std::size_t Capacity() const { return static_cast<std::size_t>(end_ - start_); }

 private:
  void Reserve(std::size_t more) {
    const std::size_t used = Length();
    const std::size_t capacity = Capacity();
    if (capacity - used > more) return;
    std::size_t grown = capacity + Step;
    if (grown < capacity * 2) grown = capacity * 2;
    if (grown < used + more + 1) grown = used + more + 1;
    void* block = std::realloc(start_, grown * sizeof(Char));
    if (!block) throw EOutOfMemory("Out of memory");
    start_ = static_cast<Char*>(block);
    position_ = start_ + used;
    end_ = start_ + grown;
  }
  Char* start_ = nullptr;
  Char* position_ = nullptr;
  Char* end_ = nullptr;
};

using TBufferedString = TTextBuffer<char, 4096>;
using TWideBufferedString = TTextBuffer<char16_t, 4096>;  // 8192 bytes a step

// --- The worker thread -----------------------------------------------------------------------------

// What the worker needs of a tree.
class WorkerTree {
 public:
  // Builds the tree's position cache; runs on the worker thread and returns
  // early once the tree's stop flag is set.
  virtual void ValidateCache() = 0;
  // Takes the tree away from the worker (main thread): out of the queue, or,
  // while it is being validated, its stop flag set and a wait
  // (TWorkerThread::WaitWhileValidating) until the worker has left it.
  virtual void StopBackgroundValidation() = 0;

 protected:
  ~WorkerTree() = default;
};

// An auto-reset event: Set wakes one Wait (or the next one).
class TWorkerEvent {
 public:
  void Set();
  void Wait();

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool signaled_ = false;
};

// The one worker thread shared by all trees of the process. Each signal of
// its event serves one waiting tree; the others wait for the next signal.
class TWorkerThread : public TThread {
  FW_CLASS(TWorkerThread, TThread)

 public:
  explicit TWorkerThread(TWorkerEvent* event);
  // Queues the tree unless it is already waiting.
  void AddTree(WorkerTree* tree);
  void RemoveTree(WorkerTree* tree);
  bool IsWaiting(WorkerTree* tree) const;
  // The tree being validated now, or null.
  WorkerTree* CurrentTree() const;
  // Blocks until the worker is not validating `tree` (at once when it is not).
  void WaitWhileValidating(WorkerTree* tree) const;
  // Takes the tree away in one step, under the list's lock: when the worker
  // is validating it, `requestStop` runs (it sets the tree's stop flag) and
  // the call waits until the worker has left the tree; otherwise the tree is
  // only taken out of the queue. Main thread; the wait blocks, it never polls.
  void TakeTreeAway(WorkerTree* tree, const std::function<void()>& requestStop);

 protected:
  void Execute() override;

 private:
  TWorkerEvent* event_;
  mutable std::mutex lock_;
  mutable std::condition_variable left_;
  std::vector<WorkerTree*> waiting_;
  WorkerTree* current_ = nullptr;
};

// Called by every tree's constructor: the first call creates the event and
// the worker, which starts at once; each call adds a reference.
void AcquireWorkerThread();
// Called by every tree's destructor. Nothing without a worker. Otherwise it
// drops a reference and stops the tree's background validation; the last
// reference ends the worker: terminate, wake, wait for it to end (never a
// suspend), then the event goes.
void ReleaseWorkerThread(WorkerTree* tree);
// The worker (null while no tree exists), its event and its reference count.
TWorkerThread* WorkerThread();
TWorkerEvent* WorkerEvent();
int WorkerThreadReferences();
// Queues the tree with the worker and wakes it (QueueCacheValidation's hand-over).
void QueueWithWorker(WorkerTree* tree);
