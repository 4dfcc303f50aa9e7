// OLE data transfer of the tree: the format enumerator, the data object, the
// drag manager (drop target and drop source) and the clipboard and stream
// transfer of nodes between trees. The objects reach their tree through
// `TVTTransferTree`, which the tree owns; when the tree goes its objects are
// told (`Detach`), answer E_FAIL from then on and touch no tree.
#pragma once

#include <ole2.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ComObject.h"
#include "VirtualTreeCore.h"
#include "VirtualTreeTransfer.h"

class TVTDataObject;

// The tree side of transfers, over a tree's portable core. A tree window
// owns one; descendants render more formats (the string tree's texts).
// The formats registered for a tree class and its ancestors, in ascending
// priority, as the system's records; the tree's own format offers an IStream
// and HGLOBAL. Empty while no format list exists.
std::vector<FORMATETC> RegisteredFormatsOf(const ClassInfo& treeClass);

class TVTTransferTree {
 public:
  explicit TVTTransferTree(TVirtualTreeCore& core);
  TVTTransferTree(const TVTTransferTree&) = delete;
  TVTTransferTree& operator=(const TVTTransferTree&) = delete;
  // Detaches every data object of the tree and empties the clipboard when it holds one.
  virtual ~TVTTransferTree();

  TVirtualTreeCore& Core() { return core_; }
  // The formats offered: "Virtual Tree Data" as IStream and HGLOBAL, then `ExtraFormats`.
  virtual std::vector<FORMATETC> OfferedFormats();
  std::vector<FORMATETC> ExtraFormats;
  // Renders one format into a zeroed medium: the tree's own data as an
  // IStream (preferred) or HGLOBAL {u32 size, bytes}; other formats E_FAIL
  // here. Errors answer E_FAIL.
  virtual HRESULT RenderDataForFormat(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard);
  // Whether the tree is going (no reference is handed out then).
  bool Destroying() const { return destroying_; }

  // A new data object for the clipboard or a drag (one reference, the caller's).
  TVTDataObject* CreateDataObject(bool forClipboard);
  // Puts the nodes marked for copy (cut) on the OLE clipboard; false when it fails.
  bool CopyToClipboard();
  bool CutToClipboard();
  // The tree of this process that made the data object (by its tree id); null otherwise.
  static TVTTransferTree* FindSourceTreeOfDataObject(IDataObject* data);
  // The tree a "Virtual Tree Reference" block names: {u32 process id, u32
  // tree id}; only a live tree of this process, else null.
  static TVTTransferTree* FindTreeOfReference(const std::uint8_t* block, std::size_t size);
  // Inserts the nodes of a data object (moving them when `move` and the
  // source is a tree of this process); true when the tree's format was there.
  bool InsertFromDataObject(TVTTransferTree* sourceTree, IDataObject* data, bool move, int mode, TVTNode* target);
  // Pastes the clipboard's nodes (2007 when the clipboard gives no object);
  // true when something was inserted. A cut in another tree is completed there.
  bool PasteFromClipboard(int mode, TVTNode* target);

  // Data objects register themselves while they live.
  void AddDataObject(TVTDataObject* object);
  void RemoveDataObject(TVTDataObject* object);

 private:
  TVirtualTreeCore& core_;
  std::vector<TVTDataObject*> objects_;
  bool destroying_ = false;
};

// The enumerator over a data object's format list.
class TEnumFormatEtc : public TComObject<IEnumFORMATETC> {
 public:
  TEnumFormatEtc(std::vector<FORMATETC> formats, std::size_t index = 0);
  HRESULT STDMETHODCALLTYPE Next(ULONG count, FORMATETC* formats, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** clone) override;

 private:
  std::vector<FORMATETC> formats_;
  TFormatCursor cursor_;
};

// The tree's IDataObject.
class TVTDataObject : public TComObject<IDataObject> {
 public:
  TVTDataObject(TVTTransferTree* tree, bool forClipboard);
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) override;
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** enumerator) override;

  // The tree is going: forget it.
  void Detach() { tree_ = nullptr; }
  TVTTransferTree* Tree() const { return tree_; }
  std::size_t StoredMediumCount() const { return media_.size(); }

 protected:
  ~TVTDataObject() override;

 private:
  struct StoredMedium {
    CLIPFORMAT Format;
    STGMEDIUM Medium;
  };
  HRESULT CopyMedium(const STGMEDIUM& source, STGMEDIUM& target, bool duplicate);
  TVTTransferTree* tree_;
  bool forClipboard_;
  std::vector<FORMATETC> formats_;
  std::vector<StoredMedium> media_;
  IDataAdviseHolder* adviseHolder_ = nullptr;
};

// What a drag manager asks of the tree it serves as drop target.
class TVTDropHandler {
 public:
  virtual ~TVTDropHandler() = default;
  virtual HRESULT DropTargetEnter(TVTTransferTree* source, DWORD keyState, POINTL point, DWORD& effect) = 0;
  virtual HRESULT DropTargetOver(TVTTransferTree* source, DWORD keyState, POINTL point, DWORD& effect) = 0;
  virtual void DropTargetLeave() = 0;
  virtual HRESULT DropTargetDrop(TVTTransferTree* source, IDataObject* data, DWORD keyState, POINTL point,
                                 DWORD& effect) = 0;
};

// The tree's drop target and drop source. The shell's drop-target helper
// draws the system drag image when it can be created.
class TVTDragManager : public TComObject<IDropTarget, IDropSource> {
 public:
  TVTDragManager(TVTTransferTree* tree, TVTDropHandler* handler, HWND window);
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keyState, POINTL point, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override;

  // The data object of the drag now over the tree, else a new one for the tree (one reference, the caller's).
  IDataObject* ProvideDataObject();
  TVTTransferTree* SourceTree() const { return dragSource_; }
  bool HasDropTargetService() const { return helper_ != nullptr; }
  bool IsCurrentDropTarget() const { return isDropTarget_; }
  // The window the drop target is registered for (the shell helper draws over it).
  void SetWindow(HWND window) { window_ = window; }
  void Detach() {
    tree_ = nullptr;
    handler_ = nullptr;
  }

 protected:
  ~TVTDragManager() override;

 private:
  TVTTransferTree* tree_;
  TVTDropHandler* handler_;
  HWND window_;
  TVTTransferTree* dragSource_ = nullptr;
  bool isDropTarget_ = false;
  IDataObject* data_ = nullptr;
  IDropTargetHelper* helper_ = nullptr;
};

// The clipboard format ids of the tree's own formats (registered on first use).
CLIPFORMAT TreeDataFormat();
CLIPFORMAT TreeReferenceFormat();

// The tree's drop-target handling over its core: the drop-target node and
// drop mode under the mouse (0 none, 1 above, 2 on, 3 below the node), the
// effect from the keys, the drag-over event and, on a drop, the drag-drop
// event; without a drag-drop handler the nodes are inserted (moved when the
// effect is a move) at the drop place.
class TVTTreeDropHandler : public TVTDropHandler {
 public:
  // `window`: the tree's window for screen-to-client conversion (null: the
  // points are client points already).
  TVTTreeDropHandler(TVTTransferTree& tree, HWND window);

  // Drag over (source, shift, state 0 enter / 1 leave / 2 move or drop, client point, mode, effect by reference): false
  // refuses.
  std::function<bool(TVTTransferTree*, std::uint8_t, int, POINT, int, DWORD&)> OnDragOver;
  // Drag drop (source, data object, its formats, shift, client point, effect by reference, mode).
  std::function<void(TVTTransferTree*, IDataObject*, const std::vector<CLIPFORMAT>&, std::uint8_t, POINT, DWORD&, int)>
      OnDragDrop;

  TVTNode* DropTargetNode() const { return tree_.Core().DropTargetNode; }
  // The delay before the node under the drag expands (timer 1, auto option bit 0).
  unsigned ExpandDelay = 1000;
  // The window whose client the screen points of the drag are taken to.
  void SetWindow(HWND window) { window_ = window; }
  // What a drop does without a drag-drop handler: the nodes inserted at the
  // drop place (moved when the effect is a move).
  void InsertDropped(TVTTransferTree* source, IDataObject* data, DWORD effect);
  int DropMode() const { return dropMode_; }

  HRESULT DropTargetEnter(TVTTransferTree* source, DWORD keyState, POINTL point, DWORD& effect) override;
  HRESULT DropTargetOver(TVTTransferTree* source, DWORD keyState, POINTL point, DWORD& effect) override;
  void DropTargetLeave() override;
  HRESULT DropTargetDrop(TVTTransferTree* source, IDataObject* data, DWORD keyState, POINTL point,
                         DWORD& effect) override;

 private:
  POINT ClientPoint(POINTL point) const;
  // The node under a point and the mode; `markShown`: modes 1 and 3 beside the caption.
  TVTNode* PlaceAt(POINT p, int& mode, bool markShown);
  bool FireDragOver(TVTTransferTree* source, std::uint8_t shift, int state, POINT p, int mode, DWORD& effect);
  TVTTransferTree& tree_;
  HWND window_;
  int dropMode_ = 0;
};
