# Flags shared by every target of every tree.
#
# The unsharp mask's bytes depend on plain IEEE double arithmetic in a fixed
# order, so no operation may be fused or carried out at extended precision:
# -ffp-contract=off everywhere, and SSE2 instead of the x87 unit on 32-bit x86
# (the DLL therefore needs a Pentium 4 / Athlon 64 or later).
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
  # Callers compiled by other compilers only keep the stack 4-byte aligned.
  add_compile_options(-msse2 -mfpmath=sse -mincoming-stack-boundary=2)
endif()

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0500 WINVER=0x0500)
  # Everything we ship or run under Wine carries its own C++ runtime: it
  # imports from system DLLs only.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

option(QZ410_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
if(QZ410_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
