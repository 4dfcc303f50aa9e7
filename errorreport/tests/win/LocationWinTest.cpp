// The debug-information readers on loaded modules: a module without a data
// block gets a MAP file beside it as its debug-information source when its
// entry is built, and a "JCLDEBUG" section in a loaded DLL is found in the
// image as the loader mapped it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ECoreWin.h"
#include "EDebugWin.h"
#include "ELocation.h"
#include "ExceptionLogWin.h"

namespace {

std::string TempFolder(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + name + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

class DebugSourcesOnModules : public ::testing::Test {
 protected:
  void SetUp() override {
    InitECoreWin();
    InitEDebug();
  }
  void TearDown() override { DoneEDebug(); }
};

TEST_F(DebugSourcesOnModules, AMapFileBesideAModuleWithoutBlockNamesItsCode) {
  const std::string folder = TempFolder("edebug-map-");
  const std::string dll = folder + "\\mapped.dll";
  ASSERT_TRUE(CopyFileA(PELLORY_EXPORTS_DLL, dll.c_str(), FALSE));
  HMODULE module = LoadLibraryA(dll.c_str());
  ASSERT_NE(module, nullptr);
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const auto first = reinterpret_cast<std::uintptr_t>(GetProcAddress(module, "ExportedFirst"));
  const auto second = reinterpret_cast<std::uintptr_t>(GetProcAddress(module, "ExportedSecond"));
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  char text[2048];
  const unsigned f = static_cast<unsigned>(first - base - 0x1000), s = static_cast<unsigned>(second - base - 0x1000);
  std::snprintf(text, sizeof text,
                " Start         Length     Name                   Class\n"
                " 0001:00000000 00010000H .text                   CODE\n\n"
                "Detailed map of segments\n\n"
                " 0001:00000000 00010000 C=CODE     S=.text    G=(none)   M=Exports  ACBP=A9\n\n"
                "  Address             Publics by Value\n\n"
                " 0001:%08X       Exports.ExportedFirst\n"
                " 0001:%08X       Exports.TCalc.ExportedSecond\n\n"
                "Line numbers for Exports(exports.pas) segment .text\n\n"
                "    10 0001:%08X    11 0001:%08X    20 0001:%08X    21 0001:%08X\n",
                f, s, f, f + 2, s, s + 2);
  std::ofstream(folder + "\\mapped.map") << text;

  ASSERT_TRUE(BuildModuleEntry(module, dll, true));
  TVantorModulesList* list = VantorModulesList();
  ASSERT_NE(list, nullptr);
  const int index = list->IndexOf(list->FindModule(base));
  ASSERT_GE(index, 0);
  TVantorModuleInfo* entry = list->Items(index);
  ASSERT_NE(entry->DebugSource, nullptr);
  EXPECT_STREQ(entry->DebugSource->ClassName(), "TVLDebugInfoMap");
  struct {
    std::uintptr_t address;
    const char *cls, *procedure;
    int line, inProcedure;
  } cases[] = {{first + 3, "", "ExportedFirst", 11, 1}, {second, "TCalc", "ExportedSecond", 20, 0}};
  for (const auto& c : cases) {
    TVLLocationInfo l;
    l.Module = entry;
    ASSERT_TRUE(LocateInDebugInfoSource(c.address, l));
    EXPECT_EQ(l.Kind, 4);
    EXPECT_EQ(l.UnitName, "exports.pas");
    EXPECT_EQ(l.ClassName, c.cls);
    EXPECT_EQ(l.ProcedureName, c.procedure);
    EXPECT_EQ(l.Line, c.line);
    EXPECT_EQ(l.LineInProcedure, c.inProcedure);
  }
  list->DeleteModule(index);
  FreeLibrary(module);
  DeleteFileA((folder + "\\mapped.map").c_str());
  DeleteFileA(dll.c_str());
  RemoveDirectoryA(folder.c_str());
}

TEST_F(DebugSourcesOnModules, ABinaryDebugSectionIsFoundInTheLoadedImage) {
  HMODULE module = LoadLibraryA(PELLORY_JDBG_DLL);
  ASSERT_NE(module, nullptr);
  const auto base = reinterpret_cast<ModuleHandle>(module);
  TObject* source = nullptr;
  ASSERT_TRUE(OpenDebugInfoSource(base, source));
  EXPECT_STREQ(source->ClassName(), "TVLDebugInfoJedy");
  TVLDebugLocation info;
  ASSERT_TRUE(static_cast<TVLDebugInfoSource*>(source)->GetLocation(base + 0x1000 + 0x20, info));
  EXPECT_EQ(info.UnitName, "Main");
  EXPECT_EQ(info.ProcedureName, "TForm1.Button1Click");
  EXPECT_EQ(info.LineNumber, 12);
  FreeAndNil(source);
  // The same DLL without the section has no source (no files beside it either).
  HMODULE plain = LoadLibraryA(PELLORY_EXPORTS_DLL);
  ASSERT_NE(plain, nullptr);
  EXPECT_FALSE(OpenDebugInfoSource(reinterpret_cast<ModuleHandle>(plain), source));
  FreeLibrary(plain);
  FreeLibrary(module);
}

}  // namespace
