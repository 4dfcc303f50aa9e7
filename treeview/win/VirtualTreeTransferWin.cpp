#include "VirtualTreeTransferWin.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "Exceptions.h"
#include "Streams.h"
#include "VirtualTreeDragImage.h"
#include "VirtualTrees.h"
#include "VirtualTreesWin.h"

namespace {

CLIPFORMAT RegisteredFormat(std::uint16_t& id, const char* name) {
  if (!id) id = static_cast<std::uint16_t>(RegisterClipboardFormatA(name));
  return id;
}

// The live transfer sides by their tree's id.
std::map<std::uint32_t, TVTTransferTree*>& LiveTransfers() {
  static auto* transfers = new std::map<std::uint32_t, TVTTransferTree*>;
  return *transfers;
}

FORMATETC MakeFormat(CLIPFORMAT format, DWORD tymed) {
  FORMATETC f{};
  f.cfFormat = format;
  f.ptd = nullptr;
  f.dwAspect = DVASPECT_CONTENT;
  f.lindex = -1;
  f.tymed = tymed;
  return f;
}

TFormatEtc Portable(const FORMATETC& f) {
  TFormatEtc p;
  p.cfFormat = f.cfFormat;
  p.ptd = f.ptd;
  p.dwAspect = f.dwAspect;
  p.lindex = f.lindex;
  p.tymed = f.tymed;
  return p;
}

std::vector<TFormatEtc> Portable(const std::vector<FORMATETC>& formats) {
  std::vector<TFormatEtc> result;
  for (const FORMATETC& f : formats) result.push_back(Portable(f));
  return result;
}

HGLOBAL GlobalBlockOf(const void* bytes, std::size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, size ? size : 1);
  if (!block) return nullptr;
  if (void* p = GlobalLock(block)) {
    if (size) std::memcpy(p, bytes, size);
    GlobalUnlock(block);
    return block;
  }
  GlobalFree(block);
  return nullptr;
}

// The bytes of an IStream from its start.
bool ReadWholeStream(IStream* stream, std::vector<std::uint8_t>& bytes) {
  STATSTG stat{};
  if (stream->Stat(&stat, STATFLAG_NONAME) != S_OK) return false;
  if (stat.cbSize.QuadPart > 0x7FFFFFFF) return false;
  LARGE_INTEGER zero{};
  if (stream->Seek(zero, STREAM_SEEK_SET, nullptr) != S_OK) return false;
  bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
  ULONG read = 0;
  if (!bytes.empty() && stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read) != S_OK) return false;
  bytes.resize(read);
  return true;
}

}  // namespace

CLIPFORMAT TreeDataFormat() {
  return RegisteredFormat(CF_VIRTUALTREE, "Virtual Tree Data");
}
CLIPFORMAT TreeReferenceFormat() {
  return RegisteredFormat(CF_VTREFERENCE, "Virtual Tree Reference");
}

// --- The tree side -------------------------------------------------------------------------------

TVTTransferTree::TVTTransferTree(TVirtualTreeCore& core) : core_(core) {
  LiveTransfers()[core.TreeId()] = this;
}

TVTTransferTree::~TVTTransferTree() {
  destroying_ = true;
  LiveTransfers().erase(core_.TreeId());
  // The clipboard keeps its object past the tree: it is emptied when the object is this tree's.
  bool onClipboard = false;
  for (TVTDataObject* object : objects_)
    if (OleIsCurrentClipboard(object) == S_OK) onClipboard = true;
  if (onClipboard) OleSetClipboard(nullptr);  // releases the clipboard's reference
  for (TVTDataObject* object : objects_) object->Detach();
  objects_.clear();
}

void TVTTransferTree::AddDataObject(TVTDataObject* object) {
  objects_.push_back(object);
}

void TVTTransferTree::RemoveDataObject(TVTDataObject* object) {
  objects_.erase(std::remove(objects_.begin(), objects_.end(), object), objects_.end());
}

std::vector<FORMATETC> RegisteredFormatsOf(const ClassInfo& treeClass) {
  std::vector<FORMATETC> formats;
  if (!ClipboardFormats()) return formats;
  for (const TFormatEtc& registered : ClipboardFormats()->CollectFormatsForClass(treeClass)) {
    const CLIPFORMAT format = registered.cfFormat;
    FORMATETC f = MakeFormat(format, format == TreeDataFormat() ? TYMED_ISTREAM | TYMED_HGLOBAL : registered.tymed);
    f.dwAspect = registered.dwAspect;
    f.lindex = registered.lindex;
    formats.push_back(f);
  }
  return formats;
}

std::vector<FORMATETC> TVTTransferTree::OfferedFormats() {
  std::vector<FORMATETC> formats = {MakeFormat(TreeDataFormat(), TYMED_ISTREAM | TYMED_HGLOBAL)};
  formats.insert(formats.end(), ExtraFormats.begin(), ExtraFormats.end());
  return formats;
}

HRESULT TVTTransferTree::RenderDataForFormat(const FORMATETC& format, STGMEDIUM& medium, bool) {
  medium = STGMEDIUM{};
  if (format.cfFormat != TreeDataFormat() || !(format.tymed & (TYMED_ISTREAM | TYMED_HGLOBAL))) return E_FAIL;
  try {
    TOwned<TMemoryStream> stream(New<TMemoryStream>());
    core_.SaveTransferStream(*stream);
    const auto size = static_cast<std::size_t>(stream->Size());
    std::vector<std::uint8_t> bytes(4 + size);
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    stream->SetPosition(0);
    if (size) stream->Read(bytes.data() + 4, static_cast<std::int64_t>(size));
    if (format.tymed & TYMED_ISTREAM) {
      IStream* result = nullptr;
      if (CreateStreamOnHGlobal(nullptr, TRUE, &result) != S_OK) return E_FAIL;
      ULONG written = 0;
      LARGE_INTEGER zero{};
      if ((size && result->Write(bytes.data() + 4, static_cast<ULONG>(size), &written) != S_OK) ||
          result->Seek(zero, STREAM_SEEK_SET, nullptr) != S_OK) {
        result->Release();
        return E_FAIL;
      }
      medium.tymed = TYMED_ISTREAM;
      medium.pstm = result;
      return S_OK;
    }
    if (size == 0) return E_FAIL;
    HGLOBAL block = GlobalBlockOf(bytes.data(), bytes.size());
    if (!block) return E_FAIL;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

TVTDataObject* TVTTransferTree::CreateDataObject(bool forClipboard) {
  TVTDataObject* object = new TVTDataObject(this, forClipboard);
  object->AddRef();
  return object;
}

bool TVTTransferTree::CopyToClipboard() {
  core_.CopyToClipboard();  // marks the selection (the host puts the object on the clipboard)
  return core_.HasTreeState(tsCopyPending);
}

bool TVTTransferTree::CutToClipboard() {
  core_.CutToClipboard();
  return core_.HasTreeState(tsCutPending);
}

TVTTransferTree* TVTTransferTree::FindSourceTreeOfDataObject(IDataObject* data) {
  if (!data) return nullptr;
  FORMATETC format = MakeFormat(TreeReferenceFormat(), TYMED_HGLOBAL);
  STGMEDIUM medium{};
  if (data->GetData(&format, &medium) != S_OK) return nullptr;
  TVTTransferTree* tree = nullptr;
  if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
    if (const auto* p = static_cast<const std::uint8_t*>(GlobalLock(medium.hGlobal))) {
      tree = FindTreeOfReference(p, GlobalSize(medium.hGlobal));
      GlobalUnlock(medium.hGlobal);
    }
  }
  ReleaseStgMedium(&medium);
  return tree;
}

TVTTransferTree* TVTTransferTree::FindTreeOfReference(const std::uint8_t* block, std::size_t size) {
  if (!block || size < 8) return nullptr;
  std::uint32_t process = 0, id = 0;
  std::memcpy(&process, block, 4);
  std::memcpy(&id, block + 4, 4);
  // The id is looked up among the live trees: a forged or stale value names none.
  if (process != GetCurrentProcessId()) return nullptr;
  auto it = LiveTransfers().find(id);
  if (it == LiveTransfers().end() || TVirtualTreeCore::FindTreeById(id) != &it->second->Core()) return nullptr;
  return it->second;
}

bool TVTTransferTree::InsertFromDataObject(TVTTransferTree* sourceTree, IDataObject* data, bool move, int mode,
                                           TVTNode* target) {
  if (!data) return false;
  FORMATETC format = MakeFormat(TreeDataFormat(), TYMED_ISTREAM | TYMED_HGLOBAL);
  if (data->QueryGetData(&format) != S_OK) return false;
  if (move && sourceTree) {
    TVirtualTreeCore& source = sourceTree->Core();
    std::vector<TVTNode*> nodes = source.TransferNodes();
    core_.BeginUpdate();
    try {
      source.MoveNodeListTo(nodes, &core_, target, mode);
    } catch (...) {
      core_.EndUpdate();
      throw;
    }
    core_.EndUpdate();
    if (source.HasTreeState(tsOLEDragging)) source.NoteDragMovedInProcess();
    return true;
  }
  // The stream form first: a clipboard flushed by another program keeps the
  // stream's bytes in global memory without the size in front, which the
  // system hands out as a stream.
  STGMEDIUM medium{};
  FORMATETC streamFormat = MakeFormat(TreeDataFormat(), TYMED_ISTREAM);
  FORMATETC blockFormat = MakeFormat(TreeDataFormat(), TYMED_HGLOBAL);
  if (data->GetData(&streamFormat, &medium) != S_OK) {
    medium = STGMEDIUM{};
    if (data->GetData(&blockFormat, &medium) != S_OK) return false;
  }
  struct MediumRelease {
    STGMEDIUM& medium;
    ~MediumRelease() { ReleaseStgMedium(&medium); }
  } release{medium};
  if (medium.tymed == TYMED_ISTREAM && medium.pstm) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeStream(medium.pstm, bytes)) return false;
    TOwned<TReadOnlyMemoryStream> stream(New<TReadOnlyMemoryStream>(bytes.data(), bytes.size()));
    core_.InsertTransferStream(*stream, target, mode);
    return true;
  }
  if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
    const SIZE_T size = GlobalSize(medium.hGlobal);
    const auto* block = static_cast<const std::uint8_t*>(GlobalLock(medium.hGlobal));
    if (!block) return false;
    try {
      core_.InsertTransferBlock(block, size, target, mode);
    } catch (...) {
      GlobalUnlock(medium.hGlobal);
      throw;
    }
    GlobalUnlock(medium.hGlobal);
    return true;
  }
  return false;
}

bool TVTTransferTree::PasteFromClipboard(int mode, TVTNode* target) {
  IDataObject* data = nullptr;
  if (OleGetClipboard(&data) != S_OK || !data) RaiseTreeError(u"Clipboard operation failed.", 2007);
  struct Releaser {
    IDataObject* data;
    ~Releaser() { data->Release(); }
  } releaser{data};
  TVTTransferTree* source = FindSourceTreeOfDataObject(data);
  const bool move = source && source->Core().HasTreeState(tsCutPending);
  const bool inserted = InsertFromDataObject(source, data, move, mode, target);
  if (source && source != this && move) {
    source->Core().DeleteCutNodes();
    source->Core().SetTreeState(tsCutPending, false);
  }
  return inserted;
}

// --- The format enumerator -----------------------------------------------------------------------

TEnumFormatEtc::TEnumFormatEtc(std::vector<FORMATETC> formats, std::size_t index)
    : formats_(std::move(formats)), cursor_(formats_.size(), index) {}

HRESULT TEnumFormatEtc::Next(ULONG count, FORMATETC* formats, ULONG* fetched) {
  return ComGuard(E_FAIL, [&]() -> HRESULT {
    const std::size_t start = cursor_.Index();
    const std::size_t taken = formats ? cursor_.Next(count) : 0;
    for (std::size_t i = 0; i < taken; ++i) formats[i] = formats_[start + i];
    if (fetched) *fetched = static_cast<ULONG>(taken);
    return taken > 0 ? S_OK : S_FALSE;
  });
}

HRESULT TEnumFormatEtc::Skip(ULONG count) {
  return cursor_.Skip(count) == vtresult::S_Ok ? S_OK : S_FALSE;
}

HRESULT TEnumFormatEtc::Reset() {
  cursor_.Reset();
  return S_OK;
}

HRESULT TEnumFormatEtc::Clone(IEnumFORMATETC** clone) {
  if (!clone) return E_FAIL;
  *clone = nullptr;
  return ComGuard(E_FAIL, [&]() -> HRESULT {
    auto* copy = new TEnumFormatEtc(formats_, cursor_.Index());
    copy->AddRef();
    *clone = copy;
    return S_OK;
  });
}

// --- The data object -----------------------------------------------------------------------------

TVTDataObject::TVTDataObject(TVTTransferTree* tree, bool forClipboard) : tree_(tree), forClipboard_(forClipboard) {
  if (tree_) {
    formats_ = tree_->OfferedFormats();
    tree_->AddDataObject(this);
  }
}

TVTDataObject::~TVTDataObject() {
  if (tree_) {
    tree_->RemoveDataObject(this);
    if (forClipboard_ && !tree_->Destroying()) tree_->Core().CancelClipboardMarks();
  }
  for (StoredMedium& stored : media_)
    if (stored.Medium.tymed != TYMED_NULL) ReleaseStgMedium(&stored.Medium);
  if (adviseHolder_) adviseHolder_->Release();
}

HRESULT TVTDataObject::QueryGetData(FORMATETC* format) {
  if (!format) return E_INVALIDARG;
  return static_cast<HRESULT>(QueryGetDataResult(Portable(formats_), Portable(*format)));
}

HRESULT TVTDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

HRESULT TVTDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  if (direction != DATADIR_GET) return OLE_S_USEREG;
  return ComGuard(OLE_S_USEREG, [&]() -> HRESULT {
    auto* e = new TEnumFormatEtc(formats_);
    e->AddRef();
    *enumerator = e;
    return S_OK;
  });
}

HRESULT TVTDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  *medium = STGMEDIUM{};
  const HRESULT result = ComGuard(E_FAIL, [&]() -> HRESULT {
    if (format->cfFormat == TreeReferenceFormat()) {
      if (!tree_ || tree_->Destroying()) return E_FAIL;
      std::uint32_t reference[2] = {GetCurrentProcessId(), tree_->Core().TreeId()};
      HGLOBAL block = GlobalBlockOf(reference, sizeof reference);
      if (!block) return E_FAIL;
      medium->tymed = TYMED_HGLOBAL;
      medium->hGlobal = block;
      return S_OK;
    }
    const HRESULT query = QueryGetData(format);
    if (query != S_OK) return query;
    const std::ptrdiff_t index = FindMatchingFormat(Portable(formats_), Portable(*format));
    if (index < 0) return DV_E_FORMATETC;
    const CLIPFORMAT cf = formats_[static_cast<std::size_t>(index)].cfFormat;
    for (StoredMedium& stored : media_)
      if (stored.Format == cf && stored.Medium.tymed != TYMED_NULL) return CopyMedium(stored.Medium, *medium, false);
    if (!tree_) return E_FAIL;
    return tree_->RenderDataForFormat(*format, *medium, forClipboard_);
  });
  if (result != S_OK) *medium = STGMEDIUM{};
  return result;
}

HRESULT TVTDataObject::CopyMedium(const STGMEDIUM& source, STGMEDIUM& target, bool duplicate) {
  target.tymed = source.tymed;
  target.hGlobal = source.hGlobal;  // the union's handle or pointer
  target.pUnkForRelease = source.pUnkForRelease;
  switch (source.tymed) {
    case TYMED_HGLOBAL:
      if (duplicate) {
        const SIZE_T size = GlobalSize(source.hGlobal);
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, size);
        void* to = copy ? GlobalLock(copy) : nullptr;
        const void* from = to ? GlobalLock(source.hGlobal) : nullptr;
        if (!from) {
          if (to) GlobalUnlock(copy);
          if (copy) GlobalFree(copy);
          target = STGMEDIUM{};
          return E_OUTOFMEMORY;
        }
        std::memcpy(to, from, size);
        GlobalUnlock(source.hGlobal);
        GlobalUnlock(copy);
        target.hGlobal = copy;
      } else {
        target.pUnkForRelease = static_cast<IDataObject*>(this);
      }
      break;
    case TYMED_FILE: {
      const std::size_t length = source.lpszFileName ? wcslen(source.lpszFileName) + 1 : 0;
      auto* name = static_cast<LPOLESTR>(CoTaskMemAlloc(length * sizeof(WCHAR)));
      if (!name && length) {
        target = STGMEDIUM{};
        return E_OUTOFMEMORY;
      }
      if (length) std::memcpy(name, source.lpszFileName, length * sizeof(WCHAR));
      target.lpszFileName = name;
      break;
    }
    case TYMED_ISTREAM:
      if (target.pstm) target.pstm->AddRef();
      break;
    case TYMED_ISTORAGE:
      if (target.pstg) target.pstg->AddRef();
      break;
    case TYMED_GDI:
    case TYMED_MFPICT:
    case TYMED_ENHMF:
      if (duplicate) {
        target = STGMEDIUM{};
        return DV_E_TYMED;
      }
      target.pUnkForRelease = static_cast<IDataObject*>(this);
      break;
    default:
      target = STGMEDIUM{};
      return DV_E_TYMED;
  }
  if (target.pUnkForRelease) target.pUnkForRelease->AddRef();
  return S_OK;
}

HRESULT TVTDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
  if (!format || !medium) return E_INVALIDARG;
  return ComGuard(E_FAIL, [&]() -> HRESULT {
    // The new medium is taken (or copied) before the old one goes: it may be the old one handed out.
    STGMEDIUM taken{};
    if (release) {
      taken = *medium;
    } else {
      const HRESULT copied = CopyMedium(*medium, taken, true);
      if (copied != S_OK) return copied;
      // A medium released through this object would hold the object alive: drop that reference.
      if (taken.pUnkForRelease) {
        IUnknown* mine = nullptr;
        IUnknown* theirs = nullptr;
        QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&mine));
        taken.pUnkForRelease->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&theirs));
        const bool self = mine && mine == theirs;
        if (mine) mine->Release();
        if (theirs) theirs->Release();
        if (self) {
          taken.pUnkForRelease->Release();
          taken.pUnkForRelease = nullptr;
        }
      }
    }
    StoredMedium* stored = nullptr;
    if (FindMatchingFormat(Portable(formats_), Portable(*format)) < 0) {
      formats_.push_back(*format);
    } else {
      for (StoredMedium& m : media_)
        if (m.Format == format->cfFormat) stored = &m;
    }
    if (!stored) {
      media_.push_back({format->cfFormat, STGMEDIUM{}});
      stored = &media_.back();
    } else if (stored->Medium.tymed != TYMED_NULL) {
      ReleaseStgMedium(&stored->Medium);
    }
    stored->Medium = taken;
    const HRESULT result = S_OK;
    if (adviseHolder_) adviseHolder_->SendOnDataChange(this, 0, 0);
    return result;
  });
}

HRESULT TVTDataObject::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) {
  if (!adviseHolder_ && CreateDataAdviseHolder(&adviseHolder_) != S_OK) return E_FAIL;
  return adviseHolder_->Advise(this, format, flags, sink, connection);
}

HRESULT TVTDataObject::DUnadvise(DWORD connection) {
  return adviseHolder_ ? adviseHolder_->Unadvise(connection) : E_NOTIMPL;
}

HRESULT TVTDataObject::EnumDAdvise(IEnumSTATDATA** enumerator) {
  return adviseHolder_ ? adviseHolder_->EnumAdvise(enumerator) : OLE_E_ADVISENOTSUPPORTED;
}

// --- The drag manager ----------------------------------------------------------------------------

TVTDragManager::TVTDragManager(TVTTransferTree* tree, TVTDropHandler* handler, HWND window)
    : tree_(tree), handler_(handler), window_(window) {
  if (CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                       reinterpret_cast<void**>(&helper_)) != S_OK)
    helper_ = nullptr;
}

TVTDragManager::~TVTDragManager() {
  if (helper_) helper_->Release();
  if (data_) data_->Release();
}

HRESULT TVTDragManager::DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  return ComGuard(E_UNEXPECTED, [&]() -> HRESULT {
    if (data) data->AddRef();
    if (data_) data_->Release();
    data_ = data;
    isDropTarget_ = true;
    POINT p{point.x, point.y};
    if (helper_) helper_->DragEnter(window_, data, &p, *effect);
    dragSource_ = TVTTransferTree::FindSourceTreeOfDataObject(data);
    return handler_ ? handler_->DropTargetEnter(dragSource_, keyState, point, *effect) : S_OK;
  });
}

HRESULT TVTDragManager::DragOver(DWORD keyState, POINTL point, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  return ComGuard(E_UNEXPECTED, [&]() -> HRESULT {
    POINT p{point.x, point.y};
    if (helper_) helper_->DragOver(&p, *effect);
    return handler_ ? handler_->DropTargetOver(dragSource_, keyState, point, *effect) : S_OK;
  });
}

HRESULT TVTDragManager::DragLeave() {
  return ComGuard(E_UNEXPECTED, [&]() -> HRESULT {
    if (helper_) helper_->DragLeave();
    if (handler_) handler_->DropTargetLeave();
    isDropTarget_ = false;
    dragSource_ = nullptr;
    if (data_) data_->Release();
    data_ = nullptr;
    return S_OK;
  });
}

HRESULT TVTDragManager::Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  // The drop answers E_UNEXPECTED for an error, which goes to the application; nothing crosses the drag loop.
  const HRESULT result = ComGuard(E_UNEXPECTED, [&]() -> HRESULT {
    POINT p{point.x, point.y};
    if (helper_) helper_->Drop(data, &p, *effect);
    return handler_ ? handler_->DropTargetDrop(dragSource_, data, keyState, point, *effect) : S_OK;
  });
  isDropTarget_ = false;
  dragSource_ = nullptr;
  if (data_) data_->Release();
  data_ = nullptr;
  return result;
}

HRESULT TVTDragManager::QueryContinueDrag(BOOL escapePressed, DWORD keyState) {
  return static_cast<HRESULT>(QueryContinueDragResult(escapePressed != FALSE, keyState));
}

HRESULT TVTDragManager::GiveFeedback(DWORD) {
  return DRAGDROP_S_USEDEFAULTCURSORS;
}

IDataObject* TVTDragManager::ProvideDataObject() {
  if (data_) {
    data_->AddRef();
    return data_;
  }
  return tree_ ? tree_->CreateDataObject(false) : nullptr;
}

// --- The tree's drop-target handling -------------------------------------------------------------

TVTTreeDropHandler::TVTTreeDropHandler(TVTTransferTree& tree, HWND window) : tree_(tree), window_(window) {}

POINT TVTTreeDropHandler::ClientPoint(POINTL point) const {
  POINT p{point.x, point.y};
  if (window_) ScreenToClient(window_, &p);
  return p;
}

TVTNode* TVTTreeDropHandler::PlaceAt(POINT p, int& mode, bool markShown) {
  TVirtualTreeCore& core = tree_.Core();
  const TVTHitInfo hit = core.HitTestPoint(p.x, p.y, true);
  TVTNode* node = (hit.HitPositions & hiNowhere) ? nullptr : hit.HitNode;
  if (!node) {
    mode = 0;
    return nullptr;
  }
  if ((hit.HitPositions & hiOnItemLabel) || !markShown) {
    mode = 2;
  } else {
    int top = 0;
    core.NodeAtOffset(p.y, true, &top);
    mode = p.y < top + node->NodeHeight / 2 ? 1 : 3;
  }
  return node;
}

bool TVTTreeDropHandler::FireDragOver(TVTTransferTree* source, std::uint8_t shift, int state, POINT p, int mode,
                                      DWORD& effect) {
  return OnDragOver ? OnDragOver(source, shift, state, p, mode, effect) : true;
}

HRESULT TVTTreeDropHandler::DropTargetEnter(TVTTransferTree* source, DWORD keyState, POINTL point, DWORD& effect) {
  const std::uint8_t shift = ShiftStateFromKeyState(keyState);
  const POINT p = ClientPoint(point);
  effect = DetermineDropEffect(source == &tree_, shift, effect);
  if (FireDragOver(source, shift, 0, p, dropMode_, effect)) {
    tree_.Core().DropTargetNode = PlaceAt(p, dropMode_, true);
  } else {
    effect = DROPEFFECT_NONE;
  }
  return S_OK;
}

HRESULT TVTTreeDropHandler::DropTargetOver(TVTTransferTree* source, DWORD keyState, POINTL point, DWORD& effect) {
  TVirtualTreeCore& core = tree_.Core();
  const std::uint8_t shift = ShiftStateFromKeyState(keyState);
  const POINT p = ClientPoint(point);
  const bool markShown = (core.OptionBits.Paint & (1u << 6)) != 0;
  // Scrolling near the edges.
  bool scrolled = false;
  core.AutoScrollDirections = core.GetAutoScrollDirections(p.x, p.y);
  if (core.AutoScrollDirections) {
    TVirtualTreeHost* host = core.Host();
    const int vertical = std::min(host ? host->ScrollIncrement(false) : 20, core.ClientHeight());
    const int horizontal = host ? host->ScrollIncrement(true) : 20;
    int dx = 0, dy = 0;
    if ((core.AutoScrollDirections & 2) && core.OffsetY() < 0) dy = vertical;
    if ((core.AutoScrollDirections & 8) && core.OffsetY() > std::min(0, core.ClientHeight() - core.RangeY()))
      dy = -vertical;
    if ((core.AutoScrollDirections & 1) && core.OffsetX() < 0) dx = horizontal;
    if ((core.AutoScrollDirections & 4) && core.OffsetX() > std::min(0, core.ClientWidth() - core.RangeX()))
      dx = -horizontal;
    if (dx || dy) scrolled = core.SetOffsetXY(core.OffsetX() + dx, core.OffsetY() + dy);
  }
  int mode = 0;
  TVTNode* node = PlaceAt(p, mode, markShown);
  TVTNode* old = core.DropTargetNode;
  if (node != old || mode != dropMode_) {
    dropMode_ = mode;
    if (node != old) {
      if (TVirtualTreeHost* host = core.Host()) host->StopTimer(kExpandTimer);
      core.DropTargetNode = node;
      if (old) core.InvalidateNodeArea(old);
      // The node under the drag expands after a while (auto option bit 0).
      if (node && (core.OptionBits.Auto & 1u) && (node->States & vsHasChildren) && core.Host())
        core.Host()->StartTimer(kExpandTimer, ExpandDelay);
    }
    if (node) core.InvalidateNodeArea(node);
  }
  const DWORD allowed = effect;
  effect = DetermineDropEffect(source == &tree_, shift, allowed);
  if (!FireDragOver(source, shift, 2, p, dropMode_, effect)) effect = DROPEFFECT_NONE;
  if (scrolled) effect |= kDropEffectScroll;
  return S_OK;
}

void TVTTreeDropHandler::DropTargetLeave() {
  if (TVirtualTreeHost* host = tree_.Core().Host()) host->StopTimer(kExpandTimer);
  if (tree_.Core().DropTargetNode) tree_.Core().InvalidateNodeArea(tree_.Core().DropTargetNode);
  tree_.Core().DropTargetNode = nullptr;
  DWORD none = DROPEFFECT_NONE;
  FireDragOver(nullptr, 0, 1, POINT{0, 0}, dropMode_, none);
}

void TVTTreeDropHandler::InsertDropped(TVTTransferTree* source, IDataObject* data, DWORD effect) {
  // Drop modes to attach modes: above the node, as its last child, below it; empty space: the root's end.
  int mode = 4;
  if (dropMode_ == 1) mode = 1;
  if (dropMode_ == 3) mode = 2;
  TVTNode* target = dropMode_ == 0 ? nullptr : tree_.Core().DropTargetNode;
  tree_.InsertFromDataObject(source, data, (effect & DROPEFFECT_MOVE) != 0, mode, target);
}

HRESULT TVTTreeDropHandler::DropTargetDrop(TVTTransferTree* source, IDataObject* data, DWORD keyState, POINTL point,
                                           DWORD& effect) {
  struct Clear {
    TVTTreeDropHandler& h;
    ~Clear() {
      if (h.tree_.Core().DropTargetNode) h.tree_.Core().InvalidateNodeArea(h.tree_.Core().DropTargetNode);
      h.tree_.Core().DropTargetNode = nullptr;
    }
  } clear{*this};
  if (TVirtualTreeHost* host = tree_.Core().Host()) {
    host->StopTimer(kExpandTimer);
    host->StopTimer(kScrollTimer);
  }
  if (DropTargetOver(source, keyState, point, effect) != S_OK) return E_FAIL;
  if ((effect & ~kDropEffectScroll) == 0) return E_FAIL;
  const std::uint8_t shift = ShiftStateFromKeyState(keyState);
  const POINT p = ClientPoint(point);
  std::vector<CLIPFORMAT> formats;
  IEnumFORMATETC* e = nullptr;
  if (!data || data->EnumFormatEtc(DATADIR_GET, &e) != S_OK || !e) Abort();
  FORMATETC f{};
  while (e->Next(1, &f, nullptr) == S_OK) {
    formats.push_back(f.cfFormat);
    if (f.ptd) CoTaskMemFree(f.ptd);
  }
  e->Release();
  if (OnDragDrop)
    OnDragDrop(source, data, formats, shift, p, effect, dropMode_);
  else
    InsertDropped(source, data, effect);
  return S_OK;
}

// --- The tree window's transfer ------------------------------------------------------------------

namespace {

// The transfer side of a tree window: the user formats and the render event of the tree.
class TTreeWindowTransfer : public TVTTransferTree {
 public:
  TTreeWindowTransfer(TBaseVirtualTree& tree) : TVTTransferTree(tree.Tree()), tree_(tree) {}
  // The formats registered for the tree's class (the tree's own when none
  // are), the extra ones, then what the tree's event adds.
  std::vector<FORMATETC> OfferedFormats() override {
    std::vector<FORMATETC> formats = RegisteredFormatsOf(tree_.ClassType());
    if (formats.empty())
      formats = TVTTransferTree::OfferedFormats();
    else
      formats.insert(formats.end(), ExtraFormats.begin(), ExtraFormats.end());
    tree_.FireGetUserClipboardFormats(formats);
    return formats;
  }
  HRESULT RenderDataForFormat(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard) override {
    if (format.cfFormat == TreeDataFormat()) return TVTTransferTree::RenderDataForFormat(format, medium, forClipboard);
    medium = STGMEDIUM{};
    return tree_.FireRenderOleData(format, medium, forClipboard);
  }

 private:
  TBaseVirtualTree& tree_;
};

TObject* OwnerOf(TVTTransferTree* transfer) {
  return transfer ? transfer->Core().Owner() : nullptr;
}

}  // namespace

void TBaseVirtualTree::MoveSourceDragImage(TBaseVirtualTree*& shown, TBaseVirtualTree* source, int state, POINT p) {
  if (state == 1 || !source || !source->core_->HasTreeState(tsOLEDragging)) {
    if (shown && shown->core_->HasTreeState(tsOLEDragging)) shown->NodeDragImage()->HideImage();
    shown = nullptr;
    return;
  }
  shown = source;
  TVTDragImage* image = source->NodeDragImage();
  if (!HandleAllocated()) return;
  ::ClientToScreen(WindowHandle(), &p);
  if (!image->Visible()) image->ShowImage();
  image->DragTo(p, false);
}

TVTTransferTree* TBaseVirtualTree::CreateTransferTree() {
  return new TTreeWindowTransfer(*this);
}

TVTTransferTree& TBaseVirtualTree::Transfer() {
  if (!transfer_) transfer_ = CreateTransferTree();
  return *transfer_;
}

TVTTreeDropHandler& TBaseVirtualTree::DropHandler() {
  if (!dropHandler_) {
    dropHandler_ = new TVTTreeDropHandler(Transfer(), HandleAllocated() ? WindowHandle() : nullptr);
    dropHandler_->ExpandDelay = autoExpandDelay_;
    // The source tree's picture of its nodes follows the mouse over this tree
    // and goes when the mouse leaves it (the leave names no source).
    auto imageSource = std::make_shared<TBaseVirtualTree*>(nullptr);
    dropHandler_->OnDragOver = [this, imageSource](TVTTransferTree* source, std::uint8_t shift, int state, POINT p,
                                                   int mode, DWORD& effect) {
      MoveSourceDragImage(*imageSource, source ? dynamic_cast<TBaseVirtualTree*>(OwnerOf(source)) : nullptr, state, p);
      return FireDragOver(source ? OwnerOf(source) : nullptr, shift, state, p, mode, effect);
    };
    dropHandler_->OnDragDrop = [this](TVTTransferTree* source, IDataObject* data,
                                      const std::vector<CLIPFORMAT>& formats, std::uint8_t shift, POINT p,
                                      DWORD& effect, int mode) {
      if (OnOleDragDrop)
        FireDragDrop(source ? OwnerOf(source) : nullptr, data, formats, shift, p, effect, mode);
      else
        dropHandler_->InsertDropped(source, data, effect);
    };
  }
  return *dropHandler_;
}

void TBaseVirtualTree::AttachDropTargetWindow(HWND window) {
  if (dropHandler_) dropHandler_->SetWindow(window);
  if (dragManager_) dragManager_->SetWindow(window);
}

void TBaseVirtualTree::SetAutoExpandDelay(unsigned ms) {
  autoExpandDelay_ = ms;
  if (dropHandler_) dropHandler_->ExpandDelay = ms;
}

TVTDragManager* TBaseVirtualTree::ObtainDragManager() {
  if (!dragManager_) {
    dragManager_ = FireCreateDragManager();
    if (!dragManager_)
      dragManager_ = new TVTDragManager(&Transfer(), &DropHandler(), HandleAllocated() ? WindowHandle() : nullptr);
    dragManager_->AddRef();
  }
  return dragManager_;
}

IDropTarget* TBaseVirtualTree::ObtainDropTarget() {
  return ObtainDragManager();
}

IDropSource* TBaseVirtualTree::ObtainDropSource() {
  TVTDragManager* manager = ObtainDragManager();
  manager->AddRef();
  return manager;
}

IDataObject* TBaseVirtualTree::CreateDragDataObject() {
  if (IDataObject* data = AskDataObject()) return data;
  return ObtainDragManager()->ProvideDataObject();
}

IDataObject* TBaseVirtualTree::CreateClipboardDataObject() {
  return Transfer().CreateDataObject(true);
}

bool TBaseVirtualTree::PasteFromClipboard() {
  TVTNode* target = Tree().FocusedNode();
  return Transfer().PasteFromClipboard(target ? ClipboardPasteMode : 4, target);
}

void TBaseVirtualTree::ReleaseTransfer() {
  if (dragManager_) {
    dragManager_->Detach();
    dragManager_->Release();
    dragManager_ = nullptr;
  }
  delete dropHandler_;
  dropHandler_ = nullptr;
  delete transfer_;  // detaches the data objects and empties the clipboard of this tree's object
  transfer_ = nullptr;
}

void TBaseVirtualTree::FireGetUserClipboardFormats(std::vector<FORMATETC>& formats) {
  if (OnGetUserClipboardFormats) OnGetUserClipboardFormats(this, formats);
}

HRESULT TBaseVirtualTree::FireRenderOleData(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard) {
  HRESULT result = E_FAIL;
  if (OnRenderOLEData) OnRenderOLEData(this, format, medium, forClipboard, result);
  return result;
}

IDataObject* TBaseVirtualTree::AskDataObject() {
  IDataObject* data = nullptr;
  if (OnCreateDataObject) OnCreateDataObject(this, data);
  return data;
}

TVTDragManager* TBaseVirtualTree::FireCreateDragManager() {
  TVTDragManager* manager = nullptr;
  if (OnCreateDragManager) OnCreateDragManager(this, manager);
  return manager;
}

bool TBaseVirtualTree::FireDragOver(TObject* source, std::uint8_t shift, int state, POINT point, int mode,
                                    DWORD& effect) {
  bool accept = true;
  if (OnOleDragOver) OnOleDragOver(this, source, shift, state, point, mode, effect, accept);
  return accept;
}

void TBaseVirtualTree::FireDragDrop(TObject* source, IDataObject* data, const std::vector<CLIPFORMAT>& formats,
                                    std::uint8_t shift, POINT point, DWORD& effect, int mode) {
  if (OnOleDragDrop) OnOleDragDrop(this, source, data, formats, shift, point, effect, mode);
}

bool TBaseVirtualTree::AskStreamEvent(TVTNode* node, TVTNode* target) {
  bool allowed = true;
  if (core_->OnNodeMoving) core_->OnNodeMoving(this, node, target, allowed);
  return allowed;
}

void TBaseVirtualTree::FireStreamEvent(TVTNode* node) {
  if (core_->OnNodeMoved) core_->OnNodeMoved(this, node);
}

void TBaseVirtualTree::SimulateMouseButtonUp() {
  TVirtualTreeCore& t = *core_;
  const UINT message = t.HasTreeState(tsRightButtonDown)    ? WM_RBUTTONUP
                       : t.HasTreeState(tsMiddleButtonDown) ? WM_MBUTTONUP
                                                            : WM_LBUTTONUP;
  t.SetTreeState(tsOLEDragPending, false);
  t.SetTreeState(tsFrameworkDragging, false);
  if (!HandleAllocated()) return;
  POINT p{0, 0};
  GetCursorPos(&p);
  ::ScreenToClient(WindowHandle(), &p);
  SendMessageW(WindowHandle(), message, 0, MAKELPARAM(std::uint16_t(p.x), std::uint16_t(p.y)));
}
