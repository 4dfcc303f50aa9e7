// A small DLL for the export-table test: named exports of code and data,
// exports listed by ordinal, and one export forwarded to kernel32.
extern "C" {
__declspec(dllexport) int ExportedFirst(int a) {
  return a + 1;
}
__declspec(dllexport) int ExportedSecond(int a) {
  return a * 2;
}
__declspec(dllexport) int ExportedThird(int a) {
  return a - 3;
}
__declspec(dllexport) int ExportedData = 7;
}
