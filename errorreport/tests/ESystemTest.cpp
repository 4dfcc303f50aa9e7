// The texts of the report lists, and the threads and processes lists (the
// live threads list's lock and its snapshots).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "ESystem.h"
#include "ExceptionLog.h"
#include "Scope.h"

namespace {

TEST(ListTexts, SizesVersionsFoldersAndPriorities) {
  EXPECT_EQ(FormatSizeInKb(512), "0 Kb");  // the half rounds to even
  EXPECT_EQ(FormatSizeInKb(1536), "2 Kb");
  EXPECT_EQ(FormatSizeInKb(2560), "2 Kb");
  EXPECT_EQ(FormatSizeInKb(2561), "3 Kb");
  EXPECT_EQ(FormatSizeInKb(1024 * 1024), "1024 Kb");
  EXPECT_EQ(FormatSizeInKb(0), "");

  EXPECT_EQ(MaskVersionBuild("6.0.22.1"), "6.0.x");
  EXPECT_EQ(MaskVersionBuild("6.0.22"), "6.0.x");
  EXPECT_EQ(MaskVersionBuild("6.0"), "6.0");
  EXPECT_EQ(MaskVersionBuild("6"), "6");
  EXPECT_EQ(MaskVersionBuild(""), "");

  EXPECT_EQ(GetFolderOfPath("C:\\Windows\\System32\\ntdll.dll"), "C:\\Windows\\System32");
  EXPECT_EQ(GetFolderOfPath("\\??\\C:\\Windows\\explorer.exe"), "C:\\Windows");
  EXPECT_EQ(GetFolderOfPath("C:\\boot.ini"), "C:\\");
  EXPECT_EQ(GetFolderOfPath("notepad.exe"), "");

  EXPECT_EQ(GetPriorityClassName(32), "Normal");
  EXPECT_EQ(GetPriorityClassName(0x8000), "Above-Normal");
  EXPECT_EQ(GetPriorityClassName(33), "");
  EXPECT_EQ(FormatNumberOrUnknown(0), "??");
  EXPECT_EQ(FormatNumberOrUnknown(12), "12");

  const std::pair<int, std::uint32_t> bases[] = {{0, 0},  {1, 64},      {5, 64},   {6, 0x4000}, {8, 32},
                                                 {9, 32}, {10, 0x8000}, {13, 128}, {23, 128},   {24, 256}};
  for (auto [base, cls] : bases) EXPECT_EQ(PriorityClassFromBasePriority(base), cls) << base;
  EXPECT_EQ(CodeAddressFromOffset(0x400000, 0x20), 0x401020u);

  EXPECT_EQ(ProcessListRoadFor(2, 4), TProcessListRoad::ProcessStatus);
  EXPECT_EQ(ProcessListRoadFor(2, 5), TProcessListRoad::SnapshotOpeningEach);  // 2000, XP, 2003
  EXPECT_EQ(ProcessListRoadFor(1, 4), TProcessListRoad::SnapshotOpeningEach);  // the 9x line
  EXPECT_EQ(ProcessListRoadFor(2, 6), TProcessListRoad::Snapshot);
  EXPECT_EQ(ProcessListRoadFor(2, 10), TProcessListRoad::Snapshot);
}

TEST(ThreadsList, RecordsSearchesAndSnapshots) {
  const std::uint32_t savedMain = VantorLogFlags().MainThreadId;
  TScopeExit restore([&] { VantorLogFlags().MainThreadId = savedMain; });
  VantorLogFlags().MainThreadId = 100;
  TVantorThreadsList* live = New<TVantorThreadsList>();
  TVantorThreadInfo* main = live->NewThreadInfo(true);
  EXPECT_EQ(main->Priority, kThreadPriorityUnknown);
  main->ThreadId = 100;
  main->ThreadHandle = 0x10;
  TVantorThreadInfo* worker = live->NewThreadInfo(true);
  worker->ThreadId = 200;
  worker->ThreadHandle = 0x20;
  worker->ThreadObject = live;  // any object stands for the thread object
  worker->ResumerStackSize = 16;
  worker->ResumerStack = new std::uint8_t[16]();
  TVantorThreadInfo* plain = live->NewThreadInfo(true);
  plain->ThreadId = 300;
  plain->ThreadHandle = 0x10;  // a reused handle value: the later record is found
  TVantorThreadInfo* loose = live->NewThreadInfo(false);
  EXPECT_EQ(live->Count(), 3);
  delete loose;

  EXPECT_EQ(live->IndexOfThreadId(200), 1);
  EXPECT_EQ(live->IndexOfHandle(0x10), 2);
  EXPECT_EQ(live->IndexOfThreadObject(live), 1);
  EXPECT_EQ(live->IndexOfThreadId(999), -1);
  EXPECT_TRUE(IsMainThreadRecord(*main));
  EXPECT_TRUE(IsFrameworkThreadRecord(*main));
  EXPECT_TRUE(IsFrameworkThreadRecord(*worker));
  EXPECT_TRUE(IsPlainWindowsThreadRecord(*plain));

  // A snapshot copies the records and their stack copies: each list frees its own.
  worker->ResumerStack[3] = 7;
  TVantorThreadsList* snapshot = New<TVantorThreadsList>(live);
  EXPECT_TRUE(snapshot->IsSnapshot());
  ASSERT_EQ(snapshot->Count(), 3);
  EXPECT_NE(snapshot->GetThreadInfo(1), worker);
  ASSERT_NE(snapshot->GetThreadInfo(1)->ResumerStack, worker->ResumerStack);
  ASSERT_EQ(snapshot->GetThreadInfo(1)->ResumerStackSize, 16u);
  EXPECT_EQ(snapshot->GetThreadInfo(1)->ResumerStack[3], 7);
  EXPECT_EQ(snapshot->GetThreadInfo(0)->ResumerStack, nullptr);
  live->LockForWrite();
  live->DeleteThread(1);  // the worker ends while a report still reads the snapshot
  live->UnlockWrite();
  EXPECT_EQ(snapshot->GetThreadInfo(1)->ResumerStack[3], 7);  // ASan: no use after free
  snapshot->Free();
  ASSERT_EQ(live->Count(), 2);

  live->RemoveCurrentThread(300);
  EXPECT_EQ(live->IndexOfThreadId(300), -1);
  live->RemoveEndedThreads([](const TVantorThreadInfo& t) { return t.ThreadId == 100; });
  ASSERT_EQ(live->Count(), 1);
  EXPECT_EQ(live->GetThreadInfo(0)->ThreadId, 100u);
  live->Free();
}

TEST(ThreadsList, ReadersShareTheLockAndWritersExcludeThem) {
  TVantorThreadsList* live = New<TVantorThreadsList>();
  live->LockForRead();
  std::atomic<bool> readerIn{false}, writerIn{false};
  std::thread reader([&] {
    live->LockForRead();  // a second reader is let in at once
    readerIn = true;
    live->UnlockRead();
  });
  reader.join();
  EXPECT_TRUE(readerIn);
  std::thread writer([&] {
    live->LockForWrite();
    writerIn = true;
    live->NewThreadInfo(true)->ThreadId = 5;
    live->UnlockWrite();
  });
  for (int i = 0; i < 50 && !writerIn; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(writerIn);  // held off by the reader
  live->UnlockRead();
  writer.join();
  EXPECT_TRUE(writerIn);
  EXPECT_EQ(live->Count(), 1);
  live->Free();
}

// Threads that resume (a new stack copy replaces the old one), end and start
// while reports take snapshots and read them: every byte a snapshot holds is
// its own and stays sound (ASan sees a use after free, TSan a race).
TEST(ThreadsList, SnapshotsStaySoundWhileThreadsResumeEndAndStart) {
  TVantorThreadsList* live = New<TVantorThreadsList>();
  auto fill = [](TVantorThreadInfo* r, std::uint8_t value) {
    r->ResumerStackSize = 64;
    r->ResumerStack = new std::uint8_t[64];
    std::memset(r->ResumerStack, value, 64);
  };
  for (std::uint32_t id = 1; id <= 8; ++id) {
    TVantorThreadInfo* r = live->NewThreadInfo(true);
    r->ThreadId = id;
    fill(r, static_cast<std::uint8_t>(id));
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w)
    writers.emplace_back([&, w] {
      for (std::uint32_t n = 0; n < 3000 && !stop; ++n) {
        live->LockForWrite();
        const int count = live->Count();
        if (count > 0) {
          const int i = static_cast<int>((n + static_cast<std::uint32_t>(w)) % static_cast<std::uint32_t>(count));
          TVantorThreadInfo* r = live->GetThreadInfo(i);
          switch ((n + static_cast<std::uint32_t>(w)) % 3) {
            case 0:  // resumed again: the old copy goes
              delete[] r->ResumerStack;
              fill(r, static_cast<std::uint8_t>(r->ThreadId));
              break;
            case 1:  // ended
              live->DeleteThread(i);
              break;
            default:
              break;
          }
        }
        if (live->Count() < 8) {  // started
          TVantorThreadInfo* r = live->NewThreadInfo(true);
          r->ThreadId = 1 + n % 200;
          fill(r, static_cast<std::uint8_t>(r->ThreadId));
        }
        live->UnlockWrite();
      }
    });
  int mismatches = 0;
  for (int round = 0; round < 300; ++round) {
    TVantorThreadsList* snapshot = New<TVantorThreadsList>(live);
    std::this_thread::yield();  // the writers change the live list meanwhile
    for (int i = 0; i < snapshot->Count(); ++i) {
      const TVantorThreadInfo* r = snapshot->GetThreadInfo(i);
      for (std::uint32_t b = 0; b < r->ResumerStackSize; ++b)
        if (r->ResumerStack[b] != static_cast<std::uint8_t>(r->ThreadId)) ++mismatches;
    }
    snapshot->Free();
  }
  stop = true;
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(mismatches, 0);
  live->Free();
}

TEST(ProcessesList, SortedByIdAndSearched) {
  TVantorProcessesList* list = New<TVantorProcessesList>();
  for (std::uint32_t id : {40u, 8u, 1200u, 16u}) {
    auto* p = new TVantorProcessInfo;
    p->ProcessId = id;
    p->FileName = "p" + std::to_string(id) + ".exe";
    list->AddProcess(p);
  }
  list->SortById();
  EXPECT_EQ(list->Items(0)->ProcessId, 8u);
  EXPECT_EQ(list->Items(3)->ProcessId, 1200u);
  EXPECT_EQ(list->IndexOfId(40), 2);
  EXPECT_EQ(list->IndexOfId(41), -1);
  list->DeleteProcess(0);
  EXPECT_EQ(list->IndexOfId(16), 0);
  list->Free();
}

}  // namespace
