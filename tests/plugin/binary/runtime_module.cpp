// A module built the ordinary way, with the compiler's runtime libraries, and
// an export table in the wrong order: the binary checker must reject it.
#include <stdio.h>

#include <stdexcept>
#include <string>

extern "C" {
__declspec(dllexport) int DllCanUnloadNow() { return printf("%s", std::string("x").c_str()); }
__declspec(dllexport) int DllGetClassForm() {
  try {
    throw std::runtime_error("unused");
  } catch (const std::exception& e) {
    return static_cast<int>(std::string(e.what()).size());
  }
}
__declspec(dllexport) int DllGetClassInfo() { return 3; }
__declspec(dllexport) int DllGetClassObject() { return 4; }
__declspec(dllexport) int DllGetInterface() { return 5; }
}
