# Debian's clang-cl, lld-link and llvm-rc for 32-bit Windows with the MSVC ABI,
# the way a Windows developer's toolchain builds, with Wine's Windows headers
# (libwine-dev) and MinGW-w64's import libraries. What the plug-in needs beyond
# that is in plugin/CMakeLists.txt under MSVC, shared with Visual Studio.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)

find_program(CLANG_CL NAMES clang-cl clang-cl-14 REQUIRED)
find_program(LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_program(LLVM_RC NAMES llvm-rc llvm-rc-14 REQUIRED)
find_program(LLVM_MT NAMES llvm-mt llvm-mt-14 REQUIRED)
set(CMAKE_C_COMPILER ${CLANG_CL})
set(CMAKE_CXX_COMPILER ${CLANG_CL})
set(CMAKE_ASM_COMPILER ${CLANG_CL})
set(CMAKE_LINKER ${LLD_LINK})
set(CMAKE_RC_COMPILER ${LLVM_RC})
set(CMAKE_MT ${LLVM_MT})
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
# CMake's assembler rule spells the target the GNU driver's way ("-target x").
set(CMAKE_ASM_FLAGS_INIT --target=i686-pc-windows-msvc)

set(_wine_include /usr/include/wine/wine)
set(_headers "-imsvc ${_wine_include}/msvcrt -imsvc ${_wine_include}/windows")
# Workarounds, each with its reason. Wine's headers take WCHAR for an unsigned
# short unless told that wchar_t is 16-bit, as it is in this ABI.
set(_workarounds "-DWINE_UNICODE_NATIVE")
# Wine's winnt.h defines these interlocked functions inline on i386, where
# clang-cl already has them as built-ins and refuses the definitions; renamed.
foreach(name And64 CompareExchangePointer Decrement64 ExchangeAdd64 ExchangePointer
    Increment64 Or64 Xor64)
  string(APPEND _workarounds " -D_Interlocked${name}=WineInterlocked${name}")
endforeach()
set(CMAKE_C_FLAGS_INIT "${_headers} ${_workarounds}")
set(CMAKE_CXX_FLAGS_INIT "${_headers} ${_workarounds}")
# llvm-rc 14 ignores the script's #pragma code_page, so the UTF-8 is named here.
set(CMAKE_RC_FLAGS_INIT "/C 65001")
# Compiler checks compile only: there is no C runtime to link a test program with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# MinGW-w64's import libraries under the names the MSVC way of linking asks for.
set(_import_libs ${CMAKE_BINARY_DIR}/import-libs)
foreach(lib kernel32 user32)
  file(MAKE_DIRECTORY ${_import_libs})
  file(CREATE_LINK /usr/i686-w64-mingw32/lib/lib${lib}.a ${_import_libs}/${lib}.lib SYMBOLIC)
endforeach()
foreach(kind EXE SHARED MODULE)
  # MinGW-w64's import libraries carry no SafeSEH mark; the plug-in registers
  # no handlers, so it declares NO_SEH (lld-link's /noseh) instead of a table.
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/libpath:${_import_libs} /safeseh:no /noseh")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
