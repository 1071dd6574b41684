# Flags shared by every target of every tree.
#
# The unsharp mask's bytes depend on plain IEEE double arithmetic in a fixed
# order, so no operation may be fused: -ffp-contract=off everywhere.
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
  # The 32-bit DLL runs in every printing program on Windows 2000/XP, on
  # Pentium II/III, Celeron and Athlon machines too: the Pentium Pro
  # instruction set (CMOV included), no MMX or SSE, doubles on the x87 unit.
  # The unsharp mask sets the x87 precision to 53 bits itself, which makes x87
  # doubles round as IEEE doubles. dll_interface checks the built code.
  # Callers compiled by other compilers only keep the stack 4-byte aligned.
  add_compile_options(-march=pentiumpro -mfpmath=387 -mincoming-stack-boundary=2)
endif()

# The same commit gives the same bytes wherever and whenever it is built, so
# that a shipped file can be traced to its commit: no build folder in the
# debug information or in __FILE__ (the build tree is mapped after the source
# tree, which may hold it, so that its longer prefix wins), and no link time
# in the PE header. A debugger finds the sources again with
# "set substitute-path /qz410ui <checkout>".
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/qz410ui>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=/qz410ui/build>")

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0500 WINVER=0x0500)
  add_link_options(-Wl,--no-insert-timestamp)
  # Everything we ship or run under Wine carries its own C++ runtime: it
  # imports from system DLLs only.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

option(QZ410_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
if(QZ410_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
