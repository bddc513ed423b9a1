# Debian's Clang and lld for 32-bit Windows. Clang 14 does not recognise
# Debian's "12-posix" GCC folder, so the GNU runtime (libgcc and the C++
# library's headers) is taken from where the GNU driver says it is; windres
# compiles the resource script for both toolchains.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_ASM_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_SYSROOT /usr/i686-w64-mingw32)

execute_process(COMMAND i686-w64-mingw32-gcc-posix -print-libgcc-file-name
  OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(_gcc_dir "${_libgcc}" DIRECTORY)
set(_cxx "${_gcc_dir}/include/c++")
set(CMAKE_CXX_FLAGS_INIT
  "-isystem ${_cxx} -isystem ${_cxx}/i686-w64-mingw32 -isystem ${_cxx}/backward")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_gcc_dir}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
