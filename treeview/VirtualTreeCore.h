// The portable core of a virtual tree: the node blocks and their pool, the
// hidden root, linking, counts and heights, on-demand initialisation, removal,
// check states, the position cache built by the shared worker thread, the
// structure-change and change events, and the selection array.
//
// The core reaches its window only through TVirtualTreeHost (repaints, scroll
// bars, window and loading flags, timers, a clock). Events are virtual
// operations (Do...) whose base versions call the assigned handlers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Method.h"
#include "Object.h"
#include "ResStrings.h"
#include "VirtualTrees.h"

class TBasicAction;
class TStream;
class TVirtualTreeCore;

// The in-place editor as the tree drives it (reference counted: the tree
// and whoever made the editor share it).
class IVTEditLink {
 public:
  virtual ~IVTEditLink() = default;
  // Begins the edit once prepared; false refuses.
  virtual bool StartEditing() = 0;
  // Cancels the edit; false refuses.
  virtual bool AbandonEditing() = 0;
  // Ends the edit, keeping what was entered; false refuses.
  virtual bool FinishEditing() = 0;
  // Readies the editor for a cell of the tree (`tree` is the tree object); false refuses.
  virtual bool PrepareEditing(TObject* tree, TVTNode* node, int column) = 0;
  virtual TVTRect EditorBounds() = 0;
  // Places the editor on a rectangle in client coordinates.
  virtual void PlaceEditor(const TVTRect& rect) = 0;
};

// --- Node state bits -------------------------------------------------------------------------------

constexpr std::uint16_t vsInitialized = 0x0001;
constexpr std::uint16_t vsChecking = 0x0002;
constexpr std::uint16_t vsCutOrCopy = 0x0004;
constexpr std::uint16_t vsDisabled = 0x0008;
constexpr std::uint16_t vsDeleting = 0x0010;  // removed as part of its parent's whole child list
constexpr std::uint16_t vsExpanded = 0x0020;
constexpr std::uint16_t vsHasChildren = 0x0040;
constexpr std::uint16_t vsVisible = 0x0080;
constexpr std::uint16_t vsSelected = 0x0100;
constexpr std::uint16_t vsReleaseCall = 0x0200;
constexpr std::uint16_t vsClearing = 0x0800;  // its children are being deleted

// The initial states an init-node handler may return.
constexpr std::uint8_t ivsDisabled = 0x01;
constexpr std::uint8_t ivsExpanded = 0x02;
constexpr std::uint8_t ivsHasChildren = 0x04;
constexpr std::uint8_t ivsSelected = 0x08;

// Check states and types.
constexpr std::uint8_t csUncheckedNormal = 0, csUncheckedPressed = 1, csCheckedNormal = 2, csCheckedPressed = 3,
                       csMixedNormal = 4, csMixedPressed = 5;
constexpr std::uint8_t ctNone = 0, ctTriStateCheckBox = 1, ctCheckBox = 2, ctRadioButton = 3, ctButton = 4;

// Structure-change reasons.
constexpr std::uint8_t crIgnore = 0, crAccumulated = 1, crChildAdded = 2, crChildDeleted = 3;
constexpr std::uint8_t crNodeAdded = 4, crNodeCopied = 5, crNodeMoved = 6;

// Tree state bits (a 48-bit set).
enum TVirtualTreeState : int {
  tsChangePending = 0,
  tsCollapsing = 1,
  tsClearPending = 2,  // a press on a selected node clears the rest of the selection on release
  tsCopyPending = 4,
  tsCutPending = 5,
  tsEditing = 8,
  tsEditPending = 9,
  tsExpanding = 10,
  tsHint = 11,
  tsAnimating = 13,  // a timed animation runs
  tsNeedRootCountUpdate = 19,
  tsOLEDragging = 20,
  tsOLEDragPending = 21,
  tsDrawSelecting = 7,   // a selection rectangle is being drawn
  tsScrollPending = 24,  // auto-scrolling steps at its interval (timer 4)
  tsScrolling = 25,      // timer 4 is armed with the auto-scroll delay
  tsStopValidation = 27,
  tsStructureChangePending = 28,
  tsSynchMode = 29,
  tsUpdating = 31,
  tsValidated = 32,
  tsUseThemes = 33,
  tsValidating = 34,
  tsValidationNeeded = 35,
  tsFrameworkDragging = 37,  // the framework's own drag operation is running
  tsWheelPanning = 38,
  tsWheelScrolling = 39,
};

// --- Node streams ---------------------------------------------------------------------------------
// A stream holds a 12-byte header (version 2 adds a u32 count of top-level
// nodes) followed by nodes; a node is an anchor chunk (type 1) holding typed
// chunks: base (2, with the children nested), caption (3, string trees) and
// user data (4). Chunk headers are an i32 type and an i32 body size; all
// numbers are little-endian.
constexpr std::int32_t kAnchorChunk = 1, kBaseChunk = 2, kCaptionChunk = 3, kUserChunk = 4;
constexpr std::uint16_t kStreamVersion = 2;
constexpr std::size_t kStreamHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kBaseChunkSize = 17, kBaseChunkSizeOld = 12;  // version 2; versions 0 and 1
// The states a saved node leaves out (reset on reading as well).
constexpr std::uint16_t kUnsavedStates = 0x0216;
// The deepest nesting a stream may hold.
constexpr std::size_t kMaxStreamDepth = 4096;

inline constexpr ResString SWrongFormat{65200, 0, "Unable to load tree structure, the format is wrong."};
inline constexpr ResString SWrongStreamVersion{65201, 0, "Unable to load tree structure, the version is unknown."};
inline constexpr ResString SStreamTooSmall{65202, 0, "Unable to load tree structure, not enough data available."};
inline constexpr ResString SCorruptStream1{65203, 0, "Stream data corrupt. A node's anchor chunk is missing."};
inline constexpr ResString SCorruptStream2{65204, 0, "Stream data corrupt. Unexpected data after node's end position."};

// Timers the core arms through its host.
constexpr int kChangeTimer = 5;
constexpr int kStructureChangeTimer = 6;
constexpr int kScrollTimer = 4;
constexpr int kEditTimer = 2;
constexpr int kExpandTimer = 1;

// What ApplyScrollOffset does besides storing the offsets.
constexpr unsigned suoRepaintHeader = 1, suoRepaintScrollBars = 2, suoScrollClientArea = 4, suoUpdateNCArea = 8;

// Visible nodes per position cache entry.
constexpr std::uint32_t kCacheThreshold = 2000;

// One scroll bar's range, page and position (the SCROLLINFO fields the tree sets).
struct TVTScrollBarInfo {
  int Min = 0;
  int Max = 0;
  int Page = 0;
  int Position = 0;
  bool DisableNoScroll = false;  // disable the bar instead of hiding it
};

// Hit positions (a 16-bit set).
constexpr std::uint16_t hiAbove = 0x0001, hiBelow = 0x0002, hiNowhere = 0x0004, hiOnItem = 0x0008,
                        hiOnItemButton = 0x0010, hiOnItemCheckbox = 0x0020, hiOnItemIndent = 0x0040,
                        hiOnItemLabel = 0x0080, hiOnItemLeft = 0x0100, hiOnItemRight = 0x0200, hiOnNormalIcon = 0x0400,
                        hiOnStateIcon = 0x0800, hiToLeft = 0x1000, hiToRight = 0x2000;

struct TVTHitInfo {
  TVTNode* HitNode = nullptr;
  std::uint16_t HitPositions = 0;
  int HitColumn = -1;
};

// Column indexes: no columns, no column at a point.
constexpr int NoColumn = -1, InvalidColumn = -2;
// Text alignment of a cell (as the framework's TAlignment: left, right, centre).
constexpr int kAlignLeft = 0, kAlignRight = 1, kAlignCenter = 2;
// Sort directions.
constexpr int sdAscending = 0, sdDescending = 1;
// Update states the updating event reports.
constexpr int usBegin = 0, usBeginSynch = 1, usSynch = 2, usUpdate = 3, usEnd = 4, usEndSynch = 5;

// The visible columns of the header in position order, as the hit tests and
// cell rectangles need them (the header keeps it current; empty without
// columns).
struct TVTColumnInfo {
  int Index = 0;
  int Left = 0;  // unscrolled
  int Width = 0;
  int Alignment = kAlignLeft;
  bool RightToLeft = false;
};
class TVTColumnLayout {
 public:
  std::vector<TVTColumnInfo> Columns;  // visible ones, in position order
  int MainColumn = NoColumn;
  int HeaderHeight = 0;  // 0 while the header is hidden
  bool HasColumns() const { return !Columns.empty(); }
  const TVTColumnInfo* Find(int index) const;
  int TotalWidth() const;
  // The column under a point in header coordinates: -2 left or above the
  // header, below the header's height, or beyond the last column. With
  // `scrolled` the edges start at the horizontal offset.
  int ColumnAtPoint(int x, int y, bool scrolled, int offsetX) const;
  // The column under x and its edges; -2 when none.
  int ColumnAndBoundsAtX(int x, bool scrolled, int offsetX, int& left, int& right) const;
};

// What the core needs of its window.
class TVirtualTreeHost {
 public:
  virtual ~TVirtualTreeHost() = default;
  virtual void Invalidate() = 0;
  // From the node's row downward (null: the whole client area).
  virtual void InvalidateToBottom(TVTNode* node) = 0;
  virtual void InvalidateNode(TVTNode* node) = 0;
  virtual void UpdateScrollBars(bool repaint) = 0;
  virtual bool HandleAllocated() const = 0;
  virtual bool Loading() const = 0;
  virtual bool Designing() const = 0;
  virtual bool Destroying() const = 0;
  virtual void StartTimer(int id, unsigned milliseconds) = 0;
  virtual void StopTimer(int id) = 0;
  virtual std::uint64_t Milliseconds() const = 0;
  // Builds the window anew (new styles or class styles).
  virtual void RecreateWindow() = 0;
  // Tells the window that its theme use changed (WM_THEMECHANGED).
  virtual void ThemeChanged() = 0;
  // Registers or revokes the window as an OLE drop target.
  virtual void SetDropTargetRegistered(bool registered) = 0;

  // --- Scrolling and repainting (defaults for hosts without a window) ---
  virtual int ClientWidth() const { return 0; }
  virtual int ClientHeight() const { return 0; }
  // Switches the window's redrawing (WM_SETREDRAW) for a visible control with a window.
  virtual void SetRedraw(bool /*on*/) {}
  // Shows (with `info`) or hides one scroll bar; the bar's position afterwards.
  virtual int SetScrollBar(bool /*horizontal*/, bool /*show*/, const TVTScrollBarInfo& info, bool /*redraw*/) {
    return info.Position;
  }
  // The system's height of a horizontal scroll bar.
  virtual int HorizontalScrollBarHeight() const { return 0; }
  // Invalidates a client rectangle.
  virtual void InvalidateRect(const TVTRect&) { Invalidate(); }
  // Repaints a client rectangle at once (invalidate, no erase, update now).
  virtual void RedrawRect(const TVTRect& rect) { InvalidateRect(rect); }
  virtual void UpdateWindow() {}
  // The toggle animation: the client area below `top` moves by `pixels`
  // (down when expanding) over `duration` ms.
  virtual void AnimateToggle(int /*top*/, int /*pixels*/, bool /*expanding*/, unsigned /*duration*/) {}
  // Puts the tree's data object on the clipboard (true on success), or, for
  // `empty`, takes whatever is there away.
  virtual bool SetClipboard(bool /*empty*/) { return false; }
  // Dragging: the framework's drag start, the system's drag threshold, and
  // the start of an OLE drag (the drag manager carries it out).
  virtual void BeginFrameworkDrag(bool /*immediately*/, int /*threshold*/) {}
  virtual int SystemDragThreshold() const { return 5; }
  virtual void StartOleDrag() {}
  // The mouse position in client coordinates; false when unknown.
  virtual bool CursorPos(int& /*x*/, int& /*y*/) const { return false; }
  // The scroll bars' line increments.
  virtual int ScrollIncrement(bool /*horizontal*/) const { return 20; }
  // The header's sort column and direction.
  virtual int SortColumn() const { return NoColumn; }
  virtual int SortDirection() const { return sdAscending; }
  // The width of a node's content in a column (text, or what the window draws).
  virtual int NodeWidth(TVTNode* /*node*/, int /*column*/) { return 0; }
  // Whether the drag manager's drop-target helper scrolls the window itself.
  virtual bool DropTargetHelperScrolls() const { return false; }

  // --- Auto-scrolling, animation and scrolling the client area ---
  // Whether the header is in one of its mouse states (tracking, dragging, pressed).
  virtual bool HeaderInAction() const { return false; }
  // Whether the drag manager reports this tree as the current drop target.
  virtual bool IsCurrentDropTarget() const { return false; }
  // Whether the window under a client point is the tree's own.
  virtual bool WindowAtPointIsTree(int /*x*/, int /*y*/) const { return true; }
  // Whether the application is shutting down (animations stop).
  virtual bool Terminating() const { return false; }
  // Moves the client area's pixels by (dx, dy) within `clip` (null: the whole
  // client area); with `moveChildren` the child windows move instead and the
  // window is repainted.
  virtual void ScrollClientArea(int /*dx*/, int /*dy*/, const TVTRect* /*clip*/, bool /*moveChildren*/) {}
  // Hides or shows again the framework's drag image around a scroll.
  virtual void ShowFrameworkDragImage(bool /*show*/) {}
  // Repaints the header band.
  virtual void RepaintHeader() {}
  // Whether the tree paints a bitmap background (child windows move instead of scrolling).
  virtual bool HasBackgroundPicture() const { return false; }
  // Whether the header band is shown.
  virtual bool HeaderShown() const { return false; }

  // --- Editing ---
  virtual bool Enabled() const { return true; }
  // The tree takes the keyboard focus when it can.
  virtual void FocusTree() {}
  // Posts the tree's private message that lets go of the edit link.
  virtual void PostReleaseEditLink() {}
};

// A pool of equally sized zero-filled blocks, carved from large slabs, with
// a free list; no per-block overhead.
class TVTNodePool {
 public:
  TVTNodePool() = default;
  TVTNodePool(const TVTNodePool&) = delete;
  TVTNodePool& operator=(const TVTNodePool&) = delete;
  ~TVTNodePool();
  // Sets the block size; only while no block is out.
  void SetBlockSize(std::size_t size);
  std::size_t BlockSize() const { return blockSize_; }
  void* Allocate();
  void Release(void* block);
  std::size_t Outstanding() const { return outstanding_; }
  // The memory the slabs take, in bytes.
  std::size_t SlabBytes() const { return slabBytes_; }

 private:
  void FreeSlabs();
  std::size_t blockSize_ = 0;
  std::vector<char*> slabs_;
  char* cursor_ = nullptr;
  char* slabEnd_ = nullptr;
  void* freeList_ = nullptr;
  std::size_t outstanding_ = 0;
  std::size_t slabBytes_ = 0;
};

using TVTInitNodeEvent = Method<void(TObject*, TVTNode*, TVTNode*, std::uint8_t&)>;
using TVTInitChildrenEvent = Method<void(TObject*, TVTNode*, std::uint32_t&)>;
using TVTNodeEvent = Method<void(TObject*, TVTNode*)>;
using TVTFocusChangeEvent = Method<void(TObject*, TVTNode*, int)>;
using TVTStructureChangeEvent = Method<void(TObject*, TVTNode*, std::uint8_t)>;
using TVTCheckChangingEvent = Method<void(TObject*, TVTNode*, std::uint8_t&, bool&)>;
using TVTGetNodeDataSizeEvent = Method<void(TObject*, int&)>;
using TVTUpdatingEvent = Method<void(TObject*, int)>;
using TVTAllowEvent = Method<void(TObject*, TVTNode*, bool&)>;
using TVTCompareEvent = Method<void(TObject*, TVTNode*, TVTNode*, int, int&)>;

struct TVTCacheEntry {
  TVTNode* Node = nullptr;
  std::uint32_t AbsoluteTop = 0;
};

class TVirtualTreeCore : public WorkerTree {
 public:
  // `owner` is the tree object the nodes name as theirs and the events'
  // sender. Joins the worker thread.
  TVirtualTreeCore(TObject* owner, TVirtualTreeHost* host);
  TVirtualTreeCore(const TVirtualTreeCore&) = delete;
  TVirtualTreeCore& operator=(const TVirtualTreeCore&) = delete;
  virtual ~TVirtualTreeCore();
  // Removes every node (free-node events included) and leaves the worker.
  // Called by the owner before it goes; the destructor does it otherwise.
  void Shutdown();

  // --- Events ---
  TVTInitNodeEvent OnInitNode;
  TVTInitChildrenEvent OnInitChildren;
  TVTNodeEvent OnFreeNode;
  TVTFocusChangeEvent OnFocusChanged;
  TVTStructureChangeEvent OnStructureChange;
  TVTNodeEvent OnChange;
  TVTCheckChangingEvent OnChecking;
  TVTNodeEvent OnChecked;
  TVTGetNodeDataSizeEvent OnGetNodeDataSize;
  TVTUpdatingEvent OnUpdating;
  TVTAllowEvent OnExpanding;
  TVTAllowEvent OnCollapsing;
  TVTNodeEvent OnExpanded;
  TVTNodeEvent OnCollapsed;
  TVTCompareEvent OnCompareNodes;
  Method<void(TObject*, TVTNode*, TVTNode*)> OnHotChange;
  Method<void(TObject*, int, int)> OnScroll;
  Method<void(TObject*, TVTNode*, TVTNode*, int, int, bool&)> OnFocusChanging;
  // Streams: the node's user data is written (read) by these; null is the root.
  Method<void(TObject*, TVTNode*, TStream&)> OnSaveNode;
  Method<void(TObject*, TVTNode*, TStream&)> OnLoadNode;
  Method<void(TObject*, TVTNode*)> OnStreamLoaded;

  // Mirrors of the tree's option sets (kept by TCustomVirtualTreeOptions).
  struct TOptionBits {
    std::uint16_t Paint = 0x1B60;
    std::uint8_t Animation = 0;
    std::uint16_t Auto = 0x0149;
    std::uint16_t Selection = 0;
    std::uint16_t Misc = 0x01A9;
  } OptionBits;
  // The header's columns (empty without columns).
  TVTColumnLayout ColumnLayout;
  int Indent = 18;
  int Margin = 4;
  // The tree's own text alignment and reading order (for column -1).
  int Alignment = kAlignLeft;
  bool RightToLeft = false;
  unsigned AnimationDuration = 200;

  // --- Nodes ---
  // The block size of a node: header, internal data and user data.
  std::size_t NodeBlockSize() const;
  TVTNode* AllocateNode();
  void LinkNode(TVTNode* node, TVTNode* destination, int mode);
  void UnlinkNode(TVTNode* node, bool keepFocus);
  void PropagateTotalCount(TVTNode* node, std::int64_t value, bool relative);
  void PropagateTotalHeight(TVTNode* node, std::int64_t value, bool relative);
  bool NodeFullyShown(const TVTNode* node) const;
  std::uint32_t CountVisibleDescendants(const TVTNode* node) const;
  // 1 when `a` is `b`'s parent; otherwise -1 for each step up from `a` to
  // `b`'s parent. Unrelated nodes stop at the root (the steps taken to it).
  int CompareNodeLevels(const TVTNode* a, const TVTNode* b) const;
  bool VisibleSiblingFollows(const TVTNode* node) const;
  bool IsFirstVisibleChild(const TVTNode* parent, const TVTNode* node) const;
  bool IsLastVisibleChild(const TVTNode* parent, const TVTNode* node) const;
  int CompareNodeOrder(const TVTNode* a, const TVTNode* b) const;
  int NodeLevel(const TVTNode* node) const;
  // Null stands for the root.
  void SetChildCount(TVTNode* node, std::uint32_t count);
  std::uint32_t ChildCount(const TVTNode* node) const;
  void SetRootChildCount(std::uint32_t count);
  std::uint32_t RootChildCount() const {
    return HasTreeState(tsNeedRootCountUpdate) ? pendingRootCount_ : root_->ChildCount;
  }
  // Applies a root child count set while loading.
  void ApplyLoadedRootCount();
  // The root's ChildCount and TotalCount include the root itself: the number of nodes below it.
  std::uint32_t TotalNodeCount() const { return root_->TotalCount - 1; }
  std::uint32_t TotalHeight() const { return root_->TotalHeight - root_->NodeHeight; }
  std::uint32_t VisibleCount() const { return visibleCount_; }
  void SetDefaultNodeHeight(int height);
  int DefaultNodeHeight() const { return defaultNodeHeight_; }
  void SetNodeDataSize(int size);
  int NodeDataSize() const { return nodeDataSize_; }
  // Reserves `bytes` (rounded up to 4) of internal data in every node; the
  // offset of the block in the node. Only while the tree has no nodes.
  std::size_t ReserveInternalNodeData(std::size_t bytes);
  std::size_t InternalDataSize() const { return internalDataSize_; }
  // The user data of a node (null for null).
  void* NodeData(TVTNode* node) const;

  void InitializeNodeOnDemand(TVTNode* node);
  void QueryChildCount(TVTNode* node);
  void RemoveAllChildren(TVTNode* node, bool clearHasChildren);
  void RemoveNode(TVTNode* node);
  // Expands a collapsed node or collapses an expanded one, asking the
  // expanding or collapsing event first; a node being deleted is left alone.
  void ToggleExpansion(TVTNode* node);
  void SetExpanded(TVTNode* node, bool expanded);
  // Counts the children when needed and initialises each (recursively when asked).
  void InitChildren(TVTNode* node, bool recursive);
  virtual void RedoNodeInitialization(TVTNode* node, bool recursive);
  virtual void ReinitChildren(TVTNode* node, bool recursive);
  // The free-node event, the children removed, the node uninitialised; null clears the tree.
  virtual void ResetNode(TVTNode* node);

  // --- Streams ---
  // Writes the header and every top-level node (null), or a count of 1 and `node`.
  virtual void SaveTreeToStream(TStream& stream, TVTNode* node = nullptr);
  // One node with its subtree as an anchor chunk.
  void SaveNodeToStream(TStream& stream, TVTNode* node);
  // The node's chunks: base (with the children), user data.
  virtual void SaveNodeChunks(TStream& stream, TVTNode* node);
  // Replaces the tree with a file's nodes; the file is opened for reading with
  // others denied writing and closed in any case.
  virtual void LoadTreeFromFile(const std::string& fileName);
  // Replaces the tree with the stream's nodes. A fault raises EVirtualTreeError
  // 2002 to 2006; the nodes read so far stay, the tree consistent.
  virtual void LoadTreeFromStream(TStream& stream);
  // Reads one anchor chunk into an existing node (null: the root). The
  // nesting is walked without recursion, at most kMaxStreamDepth deep.
  virtual void ReadNodeFromStream(TStream& stream, int version, TVTNode* node);
  // Reads one chunk body of `size` bytes; true when the chunk was taken.
  virtual bool LoadChunkFromStream(TStream& stream, int version, std::int32_t size, std::int32_t type, TVTNode* node);
  // Reads one node into `target` (null: the root) and brings the selection up to date.
  void InsertNodesFromStream(TStream& stream, int version, TVTNode* target);
  // Moves past one node (2005 when no anchor chunk starts here).
  virtual void SkipNodeInStream(TStream& stream);
  // Writes the chunk size of the chunk from `start` to `end` into its header.
  static void PatchChunkSize(TStream& stream, std::int64_t start, std::int64_t end);

  // --- Sorting ---
  // A stable merge sort of one node's children through the compare event.
  virtual void SortChildren(TVTNode* node, int column, int direction, bool doInit);
  // Sorts every initialised level.
  void SortAllLevels(int column, int direction, bool doInit);
  // Comparisons made by the sorts since the tree was made (for measuring).
  std::uint64_t Comparisons() const { return comparisons_; }

  // --- Whole-tree operations ---
  virtual void Clear();
  void DeleteSelectedNodes();
  void CancelClipboardMarks();
  void DeleteCutNodes();
  virtual void CopyToClipboard();
  virtual void CutToClipboard();
  virtual void FullExpand(TVTNode* node = nullptr);
  virtual void FullCollapse(TVTNode* node = nullptr);
  void SelectEveryNode(bool visibleOnly);
  void ClearSelectionAndRepaint();
  // Pastes the clipboard's nodes into the tree; the transfer side fills it in.
  virtual void PasteFromClipboard() {}
  // The five edit actions (cut, copy, paste, delete, select all): carries one
  // out, or sets whether it can run now; false for any other action.
  bool ExecuteEditAction(TBasicAction* action);
  bool UpdateEditAction(TBasicAction* action);
  // Starts editing the node in the column; whether an edit is active now.
  virtual bool EditNode(TVTNode* node, int column);
  std::vector<TVTNode*> CollectSelectedNodes(bool skipDescendants) const;
  std::vector<TVTNode*> CollectClipboardMarkedNodes(bool skipDescendants) const;

  // Check states.
  bool ApplyCheckState(TVTNode* node, std::uint8_t newState);
  // Asks the checking event, then applies the state and fires checked.
  void SetCheckState(TVTNode* node, std::uint8_t newState);
  void SetCheckType(TVTNode* node, std::uint8_t type);
  // Applies the state and fires checked when it took (no checking event).
  void CheckNodeAndNotify(TVTNode* node, std::uint8_t newState) {
    if (ApplyCheckState(node, newState)) DoChecked(node);
  }
  // Whether the checking event lets the node take the state (it may change it).
  bool AllowCheckChange(TVTNode* node, std::uint8_t& newState) { return DoChecking(node, newState); }
  bool AutoTriStateTracking() const { return autoTriState_; }
  void SetAutoTriStateTracking(bool on) { autoTriState_ = on; }

  // --- Navigation ---
  // Two families: the initialising walks hand out initialised nodes (and
  // create children before entering them); the raw walks fire no events.
  // Null stands for the root where a parent is asked for; the root itself is
  // never returned.
  TVTNode* FirstNode();
  TVTNode* FirstNodeRaw() const;
  TVTNode* FirstChildOf(TVTNode* node);
  TVTNode* LastChildOf(TVTNode* node);
  TVTNode* LastChildOfRaw(const TVTNode* node) const;
  TVTNode* LastNodeOf(TVTNode* node);
  TVTNode* LastNodeOfRaw(const TVTNode* node) const;
  TVTNode* NextNode(TVTNode* node);
  TVTNode* NextNodeRaw(const TVTNode* node) const;
  TVTNode* PreviousNode(TVTNode* node);
  TVTNode* PreviousNodeRaw(const TVTNode* node) const;
  TVTNode* FirstVisibleNode();
  TVTNode* FirstVisibleNodeRaw() const;
  TVTNode* FirstVisibleChild(TVTNode* node);
  TVTNode* LastVisibleChildOf(TVTNode* node);
  TVTNode* LastVisibleChildOfRaw(const TVTNode* node) const;
  TVTNode* LastVisibleNodeOf(TVTNode* node);
  TVTNode* LastVisibleNodeOfRaw(const TVTNode* node) const;
  // The next (previous) shown node in tree order; a hidden start counts from its place.
  TVTNode* NextVisibleNode(TVTNode* node);
  TVTNode* NextVisibleNodeRaw(const TVTNode* node) const;
  TVTNode* PreviousVisibleNode(TVTNode* node);
  TVTNode* PreviousVisibleNodeRaw(const TVTNode* node) const;
  TVTNode* NextSiblingOf(TVTNode* node);
  TVTNode* PreviousSiblingOf(TVTNode* node);
  TVTNode* NextVisibleSibling(TVTNode* node);
  TVTNode* PreviousVisibleSibling(TVTNode* node);
  TVTNode* PreviousVisibleSiblingRaw(const TVTNode* node) const;
  TVTNode* FirstSelectedNode();
  TVTNode* NextSelectedNode(TVTNode* node);
  TVTNode* FirstClipboardMarkedNode();
  TVTNode* NextClipboardMarkedNode(TVTNode* node);
  TVTNode* FirstInitializedNode() const;
  TVTNode* NextInitializedNode(const TVTNode* node) const;
  bool NodeHasAncestor(const TVTNode* node, const TVTNode* ancestor) const;
  // The nearest fully shown ancestor; null for the root.
  TVTNode* VisibleAncestorOf(const TVTNode* node) const;

  // --- Geometry ---
  // The shown node whose row covers y, and its row's top. Relative: y and the
  // top are client coordinates. A negative y counts as 0.
  TVTNode* NodeAtOffset(int y, bool relative, int* nodeTop = nullptr);
  TVTRect ComputeNodeCellRect(TVTNode* node, int column, bool textOnly, bool unclipped);
  TVTHitInfo HitTestPoint(int x, int y, bool relative);
  int MeasureColumnContentWidth(int column);
  int MeasureVisibleContentWidth();
  // The topmost node at client y = 0.
  TVTNode* TopmostNode() { return NodeAtOffset(0, true); }

  // --- Scrolling ---
  int ClientWidth() const { return host_ ? host_->ClientWidth() : 0; }
  int ClientHeight() const { return host_ ? host_->ClientHeight() : 0; }
  int OffsetX() const { return offsetX_; }
  int OffsetY() const { return offsetY_; }
  // Scrolls to the offsets (clamped to the ranges) with every ApplyScrollOffset
  // option: the client area is scrolled, not repainted; true when one changed.
  bool SetOffsetXY(int x, int y);
  void SetOffsetX(int x) { SetOffsetXY(x, offsetY_); }
  void SetOffsetY(int y) { SetOffsetXY(offsetX_, y); }
  int RangeX() const { return rangeX_; }
  int RangeY() const { return rangeY_; }
  bool BringNodeIntoView(TVTNode* node, bool center, bool horizontally);
  void ShowNodeAtTop(TVTNode* node);
  void RefreshScrollBars(bool redraw);
  void RefreshHorzScrollBar(bool redraw);
  void RefreshVertScrollBar(bool redraw);
  // What the scroll bars are to show: 0 none, 1 horizontal, 2 vertical, 3 both.
  int ScrollBars = 3;
  bool ScrollBarsAlwaysVisible = false;
  // Auto-scrolling (timer 4): the directions (1 left, 2 up, 4 right, 8 down)
  // and the panning anchor in client coordinates.
  std::uint8_t AutoScrollDirections = 0;
  int PanningAnchorX = 0, PanningAnchorY = 0;
  // One step of auto-scrolling or wheel panning.
  void AutoScrollTick();
  // Timer 4: the first expiry ends the delay, and the timer runs on at
  // AutoScrollInterval (state 24 instead of 25); every expiry scrolls one step.
  void ScrollTimerFired();
  // The delay before auto-scrolling starts, in ms.
  unsigned AutoScrollDelay = 1000;
  unsigned AutoScrollInterval = 1;
  // Whether the tree scrolls by itself now: with auto option voAutoScroll and
  // the header idle, while a band is pending or drawn or the tree is the drop
  // target; otherwise while a framework drag image shows or wheel panning runs.
  virtual bool CanAutoScroll() const;
  // The directions (1 left, 2 up, 4 right, 8 down) a point asks to scroll:
  // beyond 8 pixels of the anchor while panning, else the edge bands (one
  // default node height). None until the delay has passed since the first
  // request over the tree.
  std::uint8_t GetAutoScrollDirections(int x, int y);
  // Stores the directions and arms (state 25, timer 4 with the delay) or
  // stops auto-scrolling.
  virtual void UpdateAutoScroll(int x, int y);
  // Sets the offsets, clamped so that the content's end stays at the client
  // area's end and no offset is positive; `options` (suo...) say what else is
  // done outside an update. Fires the scroll event; true when one changed.
  bool ApplyScrollOffset(int x, int y, unsigned options, const TVTRect* clip = nullptr);
  // Runs `step(position, stepSize)` over `distance` pixels in `duration` ms,
  // paced by the host's clock; a false result ends it early. The last call
  // has position and step 0. Nothing while one runs (state 13).
  void RunTimedAnimation(int distance, int duration, const std::function<bool(int, int)>& step);

  // --- Invalidation ---
  virtual void InvalidateNodeArea(TVTNode* node);
  void InvalidateFromNode(TVTNode* node);
  void RedrawNodeNow(TVTNode* node);
  void RepaintColumnStrip(int column);

  // --- Focus and hot node ---
  TVTNode* FocusedNode() const { return focusedNode_; }
  void SetFocusedNode(TVTNode* node);
  int FocusedColumn() const { return focusedColumn_; }
  // Stores the focused column without events.
  void SetFocusedColumnRaw(int column) { focusedColumn_ = column; }
  // Asks the focus-changing event, cancels an edit, stores the column, brings
  // the focused node into view (centred when it has to scroll), repaints its
  // row and fires focus-changed.
  void SetFocusedColumn(int column);
  // Whether the focus-changing event lets the focus move.
  bool AllowFocusChange(TVTNode* oldNode, TVTNode* newNode, int oldColumn, int newColumn) {
    return DoFocusChanging(oldNode, newNode, oldColumn, newColumn);
  }
  // Cancels an active or pending edit; true when none is left.
  bool CancelEditingIfActive();
  // Ends an active edit; true when none is left.
  bool EndEditingIfActive();

  // --- Dragging ---
  // 0 OLE drag, 1 the framework's drag.
  int DragType = 0;
  // Starts a drag: the framework's at once, an OLE drag at once or once the
  // mouse has moved beyond the threshold (negative: the system's).
  void InitiateDrag(bool immediately, int threshold);
  bool IsDragInProgress() const {
    return HasTreeState(tsOLEDragging) || HasTreeState(tsOLEDragPending) || HasTreeState(tsFrameworkDragging);
  }
  int DragThreshold() const { return dragThreshold_; }
  // The OLE drag operations the tree allows: bit 0 copy, 1 move, 2 link.
  std::uint8_t DragOperations = 0x03;
  // The drop effects (copy 1, move 2, link 4) an operations set allows; an empty set allows all three.
  static std::uint32_t AllowedDragEffects(std::uint8_t operations);
  // Runs an OLE drag of the selection: the edit is cancelled, the hot node
  // goes, the focused node joins the selection, the selection becomes the
  // drag selection (state 20) and `run(allowedEffects)` carries out the
  // system's drag, returning the effect. A move with auto option bit 8
  // deletes the dragged nodes that are still there. State 20 and the drag
  // selection go in every case; the effect is returned.
  std::uint32_t StartOleDrag(const std::function<std::uint32_t(std::uint32_t)>& run);
  // The nodes of a running OLE drag, in tree order (freed ones leave it).
  const std::vector<TVTNode*>& DragSelection() const { return dragSelection_; }
  // The header's main column; no header, no column (-1). The header overrides it.
  virtual int MainColumn() const { return -1; }
  TVTNode* HotNode() const { return hotNode_; }
  void SetHotNode(TVTNode* node) { hotNode_ = node; }
  // Makes the node hot (null: none): the hot-change event, both rows repainted.
  void ChangeHotNode(TVTNode* node);

  // --- Moving nodes and transfer ---
  // Node-moving (node, target, allowed by reference; null target: the root) and node-moved events.
  Method<void(TObject*, TVTNode*, TVTNode*, bool&)> OnNodeMoving;
  Method<void(TObject*, TVTNode*)> OnNodeMoved;
  // Moves `source` (or only its children) to a place in this tree or the tree
  // that owns `target` (null: the end of this tree's root, mode 3): modes 1
  // before, 2 after, 3 first child, 4 last child (1 and 2 at a root become 3
  // and 4). Within a tree the nodes are relinked; a target below `source`
  // raises EVirtualTreeError 2001. To another tree they travel as a node
  // stream and are deleted here. Nothing happens without a mode, without a
  // source, for the root or when source is the target.
  void MoveNodesTo(TVTNode* source, TVTNode* target, int mode, bool childrenOnly);
  // The same with the tree whose root a null target stands for.
  void MoveNodesTo(TVTNode* source, TVirtualTreeCore* targetTree, TVTNode* target, int mode, bool childrenOnly);
  // Moves each of `nodes` (in tree order) as MoveNodesTo does, leaving out
  // the target and its ancestors; they arrive in the order given, whatever
  // the mode.
  void MoveNodeListTo(const std::vector<TVTNode*>& nodes, TVirtualTreeCore* targetTree, TVTNode* target, int mode);
  // The tree core that owns a node (null for null).
  static TVirtualTreeCore* CoreOfNode(const TVTNode* node);
  // A number naming this tree within the process, never reused; the same
  // width on every platform. FindTreeById answers only for live trees.
  std::uint32_t TreeId() const { return treeId_; }
  static TVirtualTreeCore* FindTreeById(std::uint32_t id);
  // Inserts every node of a transfer stream (anchor chunks, no header) at the
  // target (null: the root; there modes 1 and 2 become 3 and 4) with the
  // mode, each kept when the paste-allowed hook agrees (then the
  // stream-loaded event) and removed again otherwise; in one update block.
  void InsertTransferStream(TStream& stream, TVTNode* target, int mode);
  // The same from a transfer block as the clipboard carries it: {u32 size,
  // the stream's bytes}. A size larger than the block holds raises
  // EVirtualTreeError 2004 and inserts nothing.
  void InsertTransferBlock(const std::uint8_t* block, std::size_t blockSize, TVTNode* target, int mode);
  // The nodes to transfer (the drag selection while dragging, else the
  // nodes marked for cut or copy, descendants of listed nodes left out),
  // written one after the other by SaveNodeToStream.
  void SaveTransferStream(TStream& stream);
  // The transfer stream's nodes.
  std::vector<TVTNode*> TransferNodes() const;
  // Said by a drop target of this process that moved the dragged nodes
  // already: the source then deletes nothing after the drag.
  void NoteDragMovedInProcess() { dragMovedInProcess_ = true; }

  // --- Position cache ---
  std::uint32_t CacheEntryCount() const;
  void RebuildPositionCache();
  void QueueCacheValidation();
  void StopBackgroundValidation() override;
  void ValidateCache() override { RebuildPositionCache(); }
  // Blocks until the worker is neither holding nor validating this tree.
  void WaitForBackgroundValidation();
  bool CacheEntryBeforeNode(const TVTNode* node, TVTNode*& entryNode, std::uint32_t& entryTop) const;
  bool CacheEntryAtPosition(std::uint32_t y, TVTNode*& entryNode, std::uint32_t& entryTop) const;
  const std::vector<TVTCacheEntry>& PositionCache() const { return positionCache_; }
  std::uint32_t ValidCacheEntries() const { return validCacheEntries_; }
  // The recomputed cache, for comparing (walks the visible nodes).
  std::vector<TVTCacheEntry> ComputePositionCache() const;

  // --- Tree states ---
  bool HasTreeState(int bit) const;
  void SetTreeState(int bit, bool on);

  // --- Update blocks ---
  // Nest; the outermost end does the deferred work once.
  void BeginUpdate();
  void EndUpdate();
  void EnterUpdateBlock() { BeginUpdate(); }
  void LeaveUpdateBlock() { EndUpdate(); }
  int UpdateCount() const { return updateCount_; }

  // --- Change events ---
  void ScheduleStructureChangeEvent(TVTNode* node, std::uint8_t reason);
  virtual void FireStructureChange(TVTNode* node, std::uint8_t reason);
  // Notes a pending change (structure: timer 6 and the reason, else timer 5),
  // stopping a running timer of it.
  void NotePendingChange(bool structure, TVTNode* node, std::uint8_t reason = crIgnore);
  void ScheduleChangeEvent(TVTNode* node);
  void FireChange(TVTNode* node);
  virtual void FireUpdating(int state);
  // Timer 5 and 6 expiry.
  void TimerFired(int id);
  unsigned ChangeDelay() const { return changeDelay_; }
  void SetChangeDelay(unsigned ms) { changeDelay_ = ms; }
  TVTNode* PendingStructureChangeNode() const { return pendingStructureNode_; }
  std::uint8_t PendingStructureChangeReason() const { return pendingStructureReason_; }
  TVTNode* PendingChangeNode() const { return pendingChangeNode_; }

  // --- Selection ---
  bool FindInSelection(const TVTNode* node, std::ptrdiff_t& index, std::ptrdiff_t high, std::ptrdiff_t low) const;
  bool MergeIntoSelection(TVTNode** nodes, std::size_t count, bool forced);
  bool AddOneToSelection(TVTNode* node, bool forced);
  // Adds to the selection and schedules the change event when anything was added.
  void AddToSelectionAndNotify(TVTNode* node);
  void AddManyToSelectionAndNotify(TVTNode** nodes, std::size_t count, bool newSelection);
  void AppendToTempNodeArray(TVTNode* node);
  void ClearTempNodeArray() { tempNodes_.clear(); }
  void DropAllSelected();
  void RemoveFromSelectionArray(TVTNode* node);
  void RemoveFromSelectionAndNotify(TVTNode* node);
  void ReanchorRangeAtFocus();
  void SelectNodeRange(TVTNode* from, TVTNode* to, bool keepSelection);
  void ResizeRangeSelection(TVTNode* oldEnd, TVTNode* newEnd);
  void MarkSelectionForClipboard();
  // Selects or deselects one node with the change event.
  void SetNodeSelected(TVTNode* node, bool selected);
  // Packs the tagged entries out of the selection array.
  void DropMarkedEntries();
  // Removes, in place and in order, every entry of `nodes` tagged for
  // removal (lowest address bit set); the new count, or -1 for an empty array.
  static std::ptrdiff_t DropMarkedEntries(TVTNode** nodes, std::ptrdiff_t count);
  std::size_t SelectedCount() const { return selectionCount_; }
  // The untagged entries, in address order.
  std::vector<TVTNode*> Selection() const;
  // Whether at least one entry is untagged; stops at the first one, so it
  // costs nothing in the usual case and never copies the array.
  bool HasSelection() const;
  TVTNode* RangeAnchor() const { return rangeAnchor_; }
  void SetRangeAnchor(TVTNode* node) { rangeAnchor_ = node; }
  int LastSelectionLevel() const { return lastSelectionLevel_; }
  void SetLastSelectionLevel(int level) { lastSelectionLevel_ = level; }
  bool MultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool on) { multiSelect_ = on; }
  bool LevelSelectConstraint() const { return levelConstraint_; }
  void SetLevelSelectConstraint(bool on) { levelConstraint_ = on; }
  bool SiblingSelectConstraint() const { return siblingConstraint_; }
  void SetSiblingSelectConstraint(bool on) { siblingConstraint_ = on; }

  // --- Nodes other parts hold ---
  // Every field that holds a node forgets it as the node is released; later
  // parts override this to clear theirs and call the base.
  virtual void ForgetReleasedNode(TVTNode* node);
  TVTNode* SearchNode = nullptr;      // the incremental search's last found node
  TVTNode* DropTargetNode = nullptr;  // the node under a drag
  TVTNode* SpaceCheckNode = nullptr;  // the node whose check the space key holds
  TVTNode* MouseCheckNode = nullptr;  // the node whose check box the mouse holds down
  TVTNode* EditedNode = nullptr;      // the node being edited
  int EditColumn() const { return editColumn_; }
  void SetEditColumn(int column) { editColumn_ = column; }
  // Whether the node's cell may be edited (the can-edit event).
  bool CanEditNode(TVTNode* node, int column) { return DoCanEdit(node, column); }

  TObject* Owner() const { return owner_; }
  TVirtualTreeHost* Host() const { return host_; }

 protected:
  // --- Virtual operations that fire the events ---
  virtual void DoInitNode(TVTNode* parent, TVTNode* node, std::uint8_t& initStates);
  virtual void DoInitChildren(TVTNode* node, std::uint32_t& childCount);
  virtual void DoFreeNode(TVTNode* node);
  virtual void DoFocusChange(TVTNode* node, int column);
  virtual bool DoFocusChanging(TVTNode* oldNode, TVTNode* newNode, int oldColumn, int newColumn);
  virtual void DoStructureChange(TVTNode* node, std::uint8_t reason);
  virtual bool DoNodeMoving(TVTNode* node, TVTNode* target);
  // Whether a pasted node stays (true by default).
  virtual bool DoPasteAllowed(TVTNode* node);
  virtual void DoNodeMoved(TVTNode* node);
  virtual void DoChange(TVTNode* node);
  virtual bool DoChecking(TVTNode* node, std::uint8_t& newState);
  virtual void DoChecked(TVTNode* node);
  virtual int DoGetNodeDataSize();
  virtual bool DoExpanding(TVTNode* node);
  virtual bool DoCollapsing(TVTNode* node);
  virtual void DoExpanded(TVTNode* node);
  virtual void DoCollapsed(TVTNode* node);
  virtual int DoCompare(TVTNode* a, TVTNode* b, int column);
  virtual void FireHotChange(TVTNode* oldNode, TVTNode* newNode);
  virtual void FireScroll(int dx, int dy);
  virtual void FireSaveNode(TVTNode* node, TStream& stream);
  virtual void FireLoadNode(TVTNode* node, TStream& stream);
  virtual void FireStreamLoaded(TVTNode* node);
  // The width of the node's content in a column: the window's measure by default.
  virtual int DoGetNodeWidth(TVTNode* node, int column) { return host_ ? host_->NodeWidth(node, column) : 0; }
  // The width of the node's normal (state) image in a column, 0 when it has none.
  virtual int NodeImageWidth(TVTNode* /*node*/, int /*column*/, bool /*state*/) { return 0; }
  // The check images' width, 0 without a check image list.
  virtual int CheckImageWidth() const { return 0; }
  // Whether the cell may be edited: misc option voEditable on and the tree
  // enabled, then the editing event.
  virtual bool DoCanEdit(TVTNode* node, int column);
  virtual void FireCanEdit(TVTNode* node, int column, bool& allowed);
  // Asks the create-editor event for the cell's edit link; an event that
  // gives none raises "Edit link must not be nil." (2000).
  virtual std::shared_ptr<IVTEditLink> RequestEditLink(TVTNode* node, int column);
  // Whether a cell shows no text, so that a neighbour's text may span into it.
  virtual bool ColumnIsEmpty(TVTNode* /*node*/, int /*column*/) { return false; }
  // Starts the in-place editor on the focused cell through its edit link.
  virtual void DoEdit() { StartEditNode(); }
  // The sort column and direction for the auto sort (the header's, through the host).
  virtual int SortColumn() const { return host_ ? host_->SortColumn() : NoColumn; }
  virtual int SortDirection() const { return host_ ? host_->SortDirection() : sdAscending; }

 public:
  // --- Editing ---
  // Starts editing the focused cell: the edit link is asked for, prepared,
  // placed on the cell and begun (states 8 and 9, timers 2 and 4).
  void StartEditNode();
  // Cancels (ends) a running edit when the edit link agrees; whether it
  // went. Both clear a pending edit.
  virtual bool CancelEditNode();
  virtual bool EndEditNode();
  // Moves the editor onto the edited cell's text rectangle.
  virtual void RepositionEditor();
  // Lets go of the edit link unless an edit runs.
  void ReleaseEditLink();
  std::shared_ptr<IVTEditLink> EditLink() const { return editLink_; }
  Method<void(TObject*, TVTNode*, int, std::shared_ptr<IVTEditLink>&)> OnCreateEditor;
  Method<void(TObject*, TVTNode*, int, bool&)> OnEditing;
  Method<void(TObject*, int)> OnEditCancelled;
  Method<void(TObject*, TVTNode*, int)> OnEdited;

  // Moves the focus to a node (null and the root: none): a running edit ends
  // first, the focus-changing event may refuse (with `ask`), an expanded
  // sibling collapses with auto-expand, the node comes into view and, with
  // nothing selected, anchors the range.
  void ChangeFocusedNode(TVTNode* node, bool ask);

  // Forgets what is cached about nodes: the base cancels editing; the
  // string tree also forgets its text widths.
  virtual void ResetNodeCaches() { CancelEditNode(); }

 protected:
  // Gives the node's memory back; the free-node event fires first.
  virtual void ReleaseNode(TVTNode* node);
  bool HasFreeNodeHandler() const { return OnFreeNode.Assigned() || freeNodeVirtual_; }
  // Descendants that handle freeing themselves say so here.
  void SetFreeNodeVirtual(bool on) { freeNodeVirtual_ = on; }

 private:
  class WorkScope;
  void AllocateRootNode();
  struct StreamFrame;
  void ReadBaseChunk(TStream& stream, int version, std::int32_t size, TVTNode* node, std::uint32_t& childCount);
  void ApplyLoadedNode(TVTNode* node, std::uint32_t height, std::uint16_t states, std::uint8_t align,
                       std::uint8_t checkState, std::uint8_t checkType);
  void ReadNodeTree(TStream& stream, int version, TVTNode* node, std::int64_t limit);
  void FreeRootNode();
  void MarkCacheStale();
  void AfterStructureChange(int oldOffsetX, int oldOffsetY);
  void RemoveNodeBody(TVTNode* node);
  void PropagateCheckStateUp(TVTNode* node);
  void ClassifyRowHit(TVTHitInfo& hit, int x, int columnWidth, int column, bool rightToLeft, int alignment);
  TVTNode* SortSiblings(TVTNode* list, std::uint32_t count, int column, int direction);
  void SortLevel(TVTNode* node, int column, int direction, bool doInit);
  void RemoveNodes(std::vector<TVTNode*>& nodes);
  TVTNode* NextVisibleAfter(const TVTNode* node, bool init);
  TVTNode* PreviousVisibleBefore(const TVTNode* node, bool init);
  void InitIfNeeded(TVTNode* node) {
    if (node && node != root_ && !(node->States & vsInitialized)) InitializeNodeOnDemand(node);
  }
  void CreateChildrenIfNeeded(TVTNode* node) {
    if (node && node != root_ && (node->States & vsHasChildren) && node->ChildCount == 0) QueryChildCount(node);
  }
  int NodeTop(TVTNode* node);
  void SetCheckStateInternal(TVTNode* node, std::uint8_t state);
  bool IsRoot(const TVTNode* node) const { return node == root_; }
  TVTNode* Real(TVTNode* node) const { return node ? node : root_; }
  TVTNode* Public(TVTNode* node) const { return node == root_ ? nullptr : node; }

  TObject* owner_;
  TVirtualTreeHost* host_;
  TVTNodePool pool_;
  TVTNode* root_ = nullptr;
  void* rootBlock_ = nullptr;
  int defaultNodeHeight_ = 18;
  std::uint32_t pendingRootCount_ = 0;
  int nodeDataSize_ = -1;
  std::size_t internalDataSize_ = 0;
  std::uint32_t visibleCount_ = 0;
  std::uint64_t states_ = 0;                    // main thread bits
  std::atomic<std::uint32_t> workerStates_{0};  // bits 27, 32, 34 and 35
  int updateCount_ = 0;
  int offsetX_ = 0, offsetY_ = 0;
  int rangeX_ = 0, rangeY_ = 0;
  int editColumn_ = NoColumn;
  int dragThreshold_ = 5;
  std::uint64_t comparisons_ = 0;
  TVTNode* focusedNode_ = nullptr;
  int focusedColumn_ = -1;
  TVTNode* hotNode_ = nullptr;
  bool autoTriState_ = true;
  bool freeNodeVirtual_ = false;
  bool shutDown_ = false;

  std::vector<TVTCacheEntry> positionCache_;
  std::uint32_t validCacheEntries_ = 0;

  unsigned changeDelay_ = 0;
  std::shared_ptr<IVTEditLink> editLink_;
  std::vector<TVTNode*> dragSelection_;
  std::uint64_t autoScrollRequest_ = 0;  // the first request's time, 0 for none
  bool autoScrollRequested_ = false;
  TVTNode* pendingStructureNode_ = nullptr;
  std::uint8_t pendingStructureReason_ = crIgnore;
  static void RegisterTree(TVirtualTreeCore* tree);
  static void UnregisterTree(TVirtualTreeCore* tree);
  std::uint32_t treeId_ = 0;
  bool dragMovedInProcess_ = false;
  TVTNode* pendingChangeNode_ = nullptr;

  std::vector<TVTNode*> selection_;
  std::size_t selectionCount_ = 0;
  std::vector<TVTNode*> tempNodes_;
  TVTNode* rangeAnchor_ = nullptr;
  int lastSelectionLevel_ = -1;
  bool multiSelect_ = false;
  bool levelConstraint_ = false;
  bool siblingConstraint_ = false;

  // The first exception a free-node handler raised during a removal.
  std::exception_ptr freeNodeError_;
  int removalDepth_ = 0;
  int busy_ = 0;  // nesting of changes to the nodes
};
