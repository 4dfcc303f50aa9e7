// A DLL that carries the binary debug fixture as its "JCLDEBUG" section.
asm(".section JCLDEBUG,\"dr\"\n"
    ".incbin \"" PELLORY_GOOD_JDBG
    "\"\n"
    ".text\n");

extern "C" __declspec(dllexport) int JdbgDllFunction(int a) {
  return a + 1;
}
