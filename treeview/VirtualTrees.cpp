#include "VirtualTrees.h"

#include <algorithm>
#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "SysUtils.h"

// --- Errors ----------------------------------------------------------------------------------------

void RaiseTreeError(const std::u16string& message, int code) {
  throw EVirtualTreeError(WideToAnsi(message), code);
}

// --- Nodes -----------------------------------------------------------------------------------------

TObject* OwnerTreeOfNode(const TVTNode* node) {
  if (!node) return nullptr;
  while (node->NextSibling != node) node = node->Parent;
  return reinterpret_cast<const TVTRootPrefix*>(reinterpret_cast<const char*>(node) - sizeof(TVTRootPrefix))->Tree;
}

// --- Rectangles and sorting ------------------------------------------------------------------------

TVTRect NormalizeRect(const TVTRect& source) {
  TVTRect r = source;
  if (r.Left > r.Right) std::swap(r.Left, r.Right);
  if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
  return r;
}

void QuickSortPointers(void** items, std::ptrdiff_t low, std::ptrdiff_t high) {
  auto key = [](void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  while (low < high) {
    std::ptrdiff_t i = low, j = high;
    const std::uintptr_t pivot = key(items[(low + high) / 2]);
    do {
      while (key(items[i]) < pivot) ++i;
      while (key(items[j]) > pivot) --j;
      if (i <= j) {
        std::swap(items[i], items[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (low < j) QuickSortPointers(items, low, j);
    low = i;
  }
}

// --- Wide text -------------------------------------------------------------------------------------

std::u16string ShortenWideText(const TTextWidthMeasurer& measure, std::u16string_view text, int width,
                               int ellipsisWidth, bool ellipsisInFront) {
  static constexpr std::u16string_view kEllipsis = u"...";
  if (text.empty() || width <= 0) return {};
  if (ellipsisWidth == 0) ellipsisWidth = measure(kEllipsis);
  if (ellipsisWidth >= width) return {};
  std::ptrdiff_t low = 0, high = static_cast<std::ptrdiff_t>(text.size()), n = 0;
  while (low <= high) {
    n = (low + high) / 2;
    if (measure(text.substr(0, static_cast<std::size_t>(n))) + ellipsisWidth <= width)
      low = n + 1;
    else
      high = n - 1;
  }
  const std::u16string_view kept = text.substr(0, static_cast<std::size_t>(std::max<std::ptrdiff_t>(n - 1, 0)));
  return ellipsisInFront ? std::u16string(kEllipsis) + std::u16string(kept)
                         : std::u16string(kept) + std::u16string(kEllipsis);
}

std::vector<std::u16string_view> SplitWideTextLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == 0 || c == u'\r' || c == u'\n' || c == 0x2028) {
      lines.push_back(text.substr(start, i - start));
      i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// --- Drag image moves ------------------------------------------------------------------------------

TDragMoveRects ComputeDragMoveRects(int width, int height, int dx, int dy) {
  auto rect = [](int l, int t, int r, int b) { return r > l && b > t ? TVTRect{l, t, r, b} : TVTRect{}; };
  TDragMoveRects m;
  m.Whole = {0, 0, width, height};
  m.Scroll = rect(std::max(0, dx), std::max(0, dy), std::min(width, width + dx), std::min(height, height + dy));
  // The columns both places share: the horizontal strips span only these,
  // the vertical strips take the corners.
  const int sharedLeft = std::max(0, dx), sharedRight = std::min(width, width + dx);
  if (dx > 0) {
    m.Uncovered[0] = rect(0, 0, std::min(dx, width), height);
    m.Covered[0] = rect(std::max(width, dx), dy, width + dx, height + dy);
  } else if (dx < 0) {
    m.Uncovered[0] = rect(std::max(width + dx, 0), 0, width, height);
    m.Covered[0] = rect(dx, dy, std::min(0, width + dx), height + dy);
  }
  if (dy > 0) {
    m.Uncovered[1] = rect(sharedLeft, 0, sharedRight, std::min(dy, height));
    m.Covered[1] = rect(sharedLeft, std::max(height, dy), sharedRight, height + dy);
  } else if (dy < 0) {
    m.Uncovered[1] = rect(sharedLeft, std::max(height + dy, 0), sharedRight, height);
    m.Covered[1] = rect(sharedLeft, dy, sharedRight, std::min(0, height + dy));
  }
  return m;
}

// --- Alpha blending --------------------------------------------------------------------------------

namespace {

bool DetectMMX() {
#if defined(__x86_64__)
  return true;
#elif defined(__i386__)
  // __get_cpuid tests first that CPUID exists (bit 21 of the flags toggles).
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return eax >= 0x50 && (edx & (1u << 23)) != 0;
#else
  return false;
#endif
}

inline int Channel(std::uint32_t pixel, int shift) {
  return static_cast<int>((pixel >> shift) & 0xFF);
}

inline std::uint32_t Saturate(int v) {
  return static_cast<std::uint32_t>(std::clamp(v, 0, 255));
}

// d + ((s - d) * alpha >> 8) + bias per channel, saturated.
inline std::uint32_t BlendPixel(std::uint32_t s, std::uint32_t d, int alpha, int bias) {
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int dc = Channel(d, shift);
    out |= Saturate(dc + (((Channel(s, shift) - dc) * alpha) >> 8) + bias) << shift;
  }
  return out;
}

}  // namespace

bool MMXAvailable() {
  static const bool available = DetectMMX();
  return available;
}

void AlphaBlendLine(const std::uint32_t* source, std::uint32_t* destination, int count, int mode, int alpha, int bias) {
  switch (mode) {
    case 0:
      for (int i = 0; i < count; ++i) destination[i] = BlendPixel(source[i], destination[i], alpha, bias);
      break;
    case 1:
      for (int i = 0; i < count; ++i)
        destination[i] = BlendPixel(source[i], destination[i], Channel(source[i], 24), bias);
      break;
    case 2:
      for (int i = 0; i < count; ++i)
        destination[i] = BlendPixel(source[i], destination[i], (Channel(source[i], 24) * alpha) >> 8, bias);
      break;
    case 3: {
      // COLORREF 0x00BBGGRR to the pixel's B, G, R, A bytes (alpha 0).
      const auto ref = static_cast<std::uint32_t>(bias);
      const std::uint32_t colour = ((ref & 0xFF) << 16) | (ref & 0xFF00) | ((ref >> 16) & 0xFF);
      for (int i = 0; i < count; ++i) {
        std::uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
          const int v = (Channel(colour, shift) * alpha + Channel(destination[i], shift) * (256 - alpha)) >> 8;
          out |= Saturate(v) << shift;
        }
        destination[i] = out;
      }
      break;
    }
    default:
      break;
  }
}

// --- Clipboard formats -----------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TClipboardFormatList)

void TClipboardFormatList::Destroy() {
  Clear();
  inherited::Destroy();
}

void TClipboardFormatList::Add(const std::string& description, const ClassInfo* treeClass, std::int32_t priority,
                               const TFormatEtc& formatEtc) {
  auto entry = std::make_unique<TClipboardFormatEntry>();
  entry->Description = description;
  entry->TreeClass = treeClass;
  entry->Priority = priority;
  entry->FormatEtc = formatEtc;
  // Behind every entry of the same or a lower priority: the list stays sorted.
  auto at =
      std::upper_bound(entries_.begin(), entries_.end(), priority,
                       [](std::int32_t p, const std::unique_ptr<TClipboardFormatEntry>& e) { return p < e->Priority; });
  entries_.insert(at, std::move(entry));
}

void TClipboardFormatList::Clear() {
  entries_.clear();
}

std::vector<TFormatEtc> TClipboardFormatList::CollectFormatsForClass(const ClassInfo& treeClass) const {
  std::vector<TFormatEtc> formats;
  for (const auto& e : entries_)
    if (e->TreeClass && treeClass.InheritsFrom(*e->TreeClass)) formats.push_back(e->FormatEtc);
  return formats;
}

const TClipboardFormatEntry* TClipboardFormatList::FindByDescription(std::string_view name) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (SameText((*it)->Description, name)) return it->get();
  return nullptr;
}

const ClassInfo* TClipboardFormatList::FindByDescription(std::string_view name, std::uint16_t& formatId) const {
  const TClipboardFormatEntry* e = FindByDescription(name);
  if (!e) return nullptr;
  formatId = e->FormatEtc.cfFormat;
  return e->TreeClass;
}

namespace {

ClipboardFormatApi* g_formatApi = nullptr;
TClipboardFormatList* g_formats = nullptr;

constexpr const char* kPredefined[] = {
    "Plain text",
    "Windows bitmap",
    "Windows metafile",
    "Symbolic link",
    "Data interchange format",
    "Tiff image",
    "OEM text",
    "DIB image",
    "Palette data",
    "Pen data",
    "Riff audio data",
    "Wav audio data",
    "Unicode text",
    "Enhanced metafile image",
    "File name(s)",
    "Locale descriptor",
};

}  // namespace

std::uint16_t CF_VTREFERENCE = 0;
std::uint16_t CF_VIRTUALTREE = 0;
std::uint16_t CF_HTML = 0;
std::uint16_t CF_VRTFNOOBJS = 0;
std::uint16_t CF_VRTF = 0;
std::uint16_t CF_CSV = 0;

void SetClipboardFormatApi(ClipboardFormatApi* api) {
  g_formatApi = api;
}
ClipboardFormatApi* GetClipboardFormatApi() {
  return g_formatApi;
}

TClipboardFormatList* ClipboardFormats() {
  return g_formats;
}
void CreateClipboardFormats() {
  if (!g_formats) g_formats = New<TClipboardFormatList>();
}
void FreeClipboardFormats() {
  FreeAndNil(g_formats);
}

const char* PredefinedFormatDescription(std::uint16_t formatId) {
  return formatId >= 1 && formatId <= std::size(kPredefined) ? kPredefined[formatId - 1] : nullptr;
}

std::uint16_t RegisterCustomClipboardFormat(const std::string& description, const ClassInfo* treeClass,
                                            std::int32_t priority, std::uint32_t tymed, void* ptd, std::uint32_t aspect,
                                            std::int32_t lindex) {
  if (!g_formatApi || !g_formats) return 0;
  const std::uint16_t id = g_formatApi->Register(description);
  if (id == 0) return 0;
  g_formats->Add(description, treeClass, priority, TFormatEtc{id, ptd, aspect, lindex, tymed});
  return id;
}

void RegisterPredefinedClipboardFormat(std::uint16_t formatId, const ClassInfo* treeClass, std::int32_t priority) {
  if (!g_formats) return;
  std::string description;
  if (formatId <= std::size(kPredefined)) {
    const char* known = PredefinedFormatDescription(formatId);
    if (!known) return;
    description = known;
  } else if (g_formatApi) {
    description = g_formatApi->Name(formatId);
  }
  g_formats->Add(description, treeClass, priority, TFormatEtc{formatId, nullptr, 1, -1, 1});
}

void RegisterVirtualTreeFormats(const ClassInfo& baseTree, const ClassInfo& stringTree) {
  CF_VIRTUALTREE = RegisterCustomClipboardFormat("Virtual Tree Data", &baseTree, 50);
  CF_HTML = RegisterCustomClipboardFormat("HTML Format", &stringTree, 80);
  CF_VRTFNOOBJS = RegisterCustomClipboardFormat("Rich Text Format Without Objects", &stringTree, 84);
  CF_VRTF = RegisterCustomClipboardFormat("Rich Text Format", &stringTree, 85);
  CF_CSV = RegisterCustomClipboardFormat("CSV", &stringTree, 90);
  RegisterPredefinedClipboardFormat(1, &stringTree, 100);  // CF_TEXT
  RegisterPredefinedClipboardFormat(13, &stringTree, 95);  // CF_UNICODETEXT
}

void ForgetVirtualTreeFormats() {
  CF_VTREFERENCE = CF_VIRTUALTREE = CF_HTML = CF_VRTFNOOBJS = CF_VRTF = CF_CSV = 0;
}

// --- The worker thread -----------------------------------------------------------------------------

void TWorkerEvent::Set() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    signaled_ = true;
  }
  cv_.notify_one();
}

void TWorkerEvent::Wait() {
  std::unique_lock<std::mutex> hold(lock_);
  cv_.wait(hold, [this] { return signaled_; });
  signaled_ = false;
}

FW_IMPLEMENT_CLASS(TWorkerThread)

TWorkerThread::TWorkerThread(TWorkerEvent* event) : TThread(false), event_(event) {}

void TWorkerThread::AddTree(WorkerTree* tree) {
  std::lock_guard<std::mutex> hold(lock_);
  if (std::find(waiting_.begin(), waiting_.end(), tree) == waiting_.end()) waiting_.push_back(tree);
}

void TWorkerThread::RemoveTree(WorkerTree* tree) {
  std::lock_guard<std::mutex> hold(lock_);
  waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), tree), waiting_.end());
}

bool TWorkerThread::IsWaiting(WorkerTree* tree) const {
  std::lock_guard<std::mutex> hold(lock_);
  return std::find(waiting_.begin(), waiting_.end(), tree) != waiting_.end();
}

WorkerTree* TWorkerThread::CurrentTree() const {
  std::lock_guard<std::mutex> hold(lock_);
  return current_;
}

void TWorkerThread::WaitWhileValidating(WorkerTree* tree) const {
  std::unique_lock<std::mutex> hold(lock_);
  left_.wait(hold, [&] { return current_ != tree; });
}

void TWorkerThread::TakeTreeAway(WorkerTree* tree, const std::function<void()>& requestStop) {
  std::unique_lock<std::mutex> hold(lock_);
  waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), tree), waiting_.end());
  if (current_ != tree) return;
  if (requestStop) requestStop();
  left_.wait(hold, [&] { return current_ != tree; });
}

void TWorkerThread::Execute() {
  while (!Terminated()) {
    event_->Wait();
    if (Terminated()) break;
    WorkerTree* tree = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!waiting_.empty()) {
        tree = waiting_.front();
        waiting_.erase(waiting_.begin());
      }
      current_ = tree;
    }
    if (!tree) continue;
    try {
      tree->ValidateCache();
    } catch (...) {
      // A failed validation leaves the cache invalid; the tree falls back to walking.
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      current_ = nullptr;
    }
    left_.notify_all();
  }
}

namespace {

std::mutex g_workerLock;
TWorkerThread* g_worker = nullptr;
TWorkerEvent* g_workerEvent = nullptr;
int g_workerReferences = 0;

}  // namespace

void AcquireWorkerThread() {
  std::lock_guard<std::mutex> hold(g_workerLock);
  if (!g_worker) {
    auto event = std::make_unique<TWorkerEvent>();
    g_worker = New<TWorkerThread>(event.get());
    g_workerEvent = event.release();
  }
  ++g_workerReferences;
}

void ReleaseWorkerThread(WorkerTree* tree) {
  TWorkerThread* ending = nullptr;
  TWorkerEvent* event = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_workerLock);
    if (!g_worker) return;
    --g_workerReferences;
  }
  if (tree) tree->StopBackgroundValidation();
  {
    std::lock_guard<std::mutex> hold(g_workerLock);
    if (g_workerReferences > 0 || !g_worker) return;
    ending = g_worker;
    event = g_workerEvent;
    g_worker = nullptr;
    g_workerEvent = nullptr;
  }
  ending->Terminate();
  event->Set();
  ending->Free();  // waits for the thread to end
  delete event;
}

TWorkerThread* WorkerThread() {
  std::lock_guard<std::mutex> hold(g_workerLock);
  return g_worker;
}

TWorkerEvent* WorkerEvent() {
  std::lock_guard<std::mutex> hold(g_workerLock);
  return g_workerEvent;
}

int WorkerThreadReferences() {
  std::lock_guard<std::mutex> hold(g_workerLock);
  return g_workerReferences;
}

void QueueWithWorker(WorkerTree* tree) {
  std::lock_guard<std::mutex> hold(g_workerLock);
  if (!g_worker) return;
  g_worker->AddTree(tree);
  g_workerEvent->Set();
}
