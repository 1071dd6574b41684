cmake_minimum_required(VERSION 3.25)
# Fails unless the DLL exports exactly DllGetClassObject and DllCanUnloadNow
# by their plain names and imports from system DLLs only.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

# The export names are the indented "[n] name" lines right under this title.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
set(exports)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "\\[ *[0-9]+\\] " "" name "${entry}")
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "DllCanUnloadNow;DllGetClassObject")
  message(FATAL_ERROR "unexpected exports: '${exports}'")
endif()

set(system_dlls advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll
    ole32.dll oleaut32.dll shell32.dll user32.dll winspool.drv)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no import table found")
endif()
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "imports from a non-system DLL: ${name}")
  endif()
  message(STATUS "imports ${name}")
endforeach()

# Every imported function must be one the DLL is known to import (DllImports.txt
# beside this script, where each entry is checked against Windows 2000), and
# every function listed there must still be imported.
if(dump MATCHES "file format pei-i386")
  set(arch x86)
else()
  set(arch x64)
endif()
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/DllImports.txt listing)
set(expected)
set(group)
foreach(line IN LISTS listing)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  elseif(line MATCHES "^\\[(.+)\\]$")
    string(TOLOWER "${CMAKE_MATCH_1}" group)
  elseif(line MATCHES "^(x86|x64) +(.+)$")
    if(CMAKE_MATCH_1 STREQUAL arch)
      list(APPEND expected "${group}!${CMAKE_MATCH_2}")
    endif()
  else()
    list(APPEND expected "${group}!${line}")
  endif()
endforeach()

# objdump lists each DLL as "DLL Name: X" followed by "vma hint name" lines.
string(FIND "${dump}" "The Import Tables" start)
string(SUBSTRING "${dump}" ${start} -1 importSection)
string(REGEX REPLACE "\n(There is|The Export Tables|PE File Base)[^\n]*\n.*" "" importSection "${importSection}")
string(REPLACE ";" "," importSection "${importSection}")
string(REPLACE "\n" ";" importLines "${importSection}")
set(imported)
set(group)
foreach(line IN LISTS importLines)
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" group)
  elseif(group AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([^ \t]+)$")
    list(APPEND imported "${group}!${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT expected)
list(SORT imported)
set(unexpected ${imported})
list(REMOVE_ITEM unexpected ${expected})
set(gone ${expected})
list(REMOVE_ITEM gone ${imported})
if(unexpected OR gone)
  list(JOIN unexpected "\n  " unexpected)
  list(JOIN gone "\n  " gone)
  message(FATAL_ERROR "the ${arch} DLL's imports differ from DllImports.txt\n"
          "imported but not listed (check that Windows 2000 has each, then list it):\n  ${unexpected}\n"
          "listed but no longer imported:\n  ${gone}")
endif()
list(LENGTH imported count)
message(STATUS "imports ${count} functions, each of them listed")

# No C++ exception can start inside the DLL: none of the runtime's throwing
# or catching machinery is linked in (a nothrow new or a std container
# would bring it). The symbol table must be there for this to mean anything.
execute_process(COMMAND ${OBJDUMP} -t ${DLL} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT symbols MATCHES "DllGetClassObject")
  message(FATAL_ERROR "no symbol table in ${DLL}")
endif()
foreach(function __cxa_throw __cxa_rethrow __cxa_allocate_exception __cxa_begin_catch _Unwind_RaiseException)
  if(symbols MATCHES "[ \t]_?${function}\n")
    message(FATAL_ERROR "the DLL contains ${function}: some code in it throws or catches")
  endif()
endforeach()

# Functions that toolchain runtimes like to pull in but that Windows 2000 or
# XP lack: the loader would refuse the whole DLL on the target systems.
set(newer_functions GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler
    InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared InitializeConditionVariable
    SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable
    InitOnceExecuteOnce InitOnceBeginInitialize GetSystemTimePreciseAsFileTime FlsAlloc CreateEventExW
    CreateSemaphoreExW SetThreadDescription GetCurrentProcessorNumber)
foreach(function IN LISTS newer_functions)
  if(dump MATCHES "[ \t]${function}\n")
    message(FATAL_ERROR "imports ${function}, which Windows 2000/XP do not have")
  endif()
endforeach()
message(STATUS "exports ${exports}")

# The 32-bit DLL and the preview tool run on every processor Windows 2000/XP
# run on: Pentium Pro instructions only.
if(PENTIUM_PRO_FILES)
  include(${CMAKE_CURRENT_LIST_DIR}/CheckPentiumProCode.cmake)
  string(REPLACE "|" ";" files "${PENTIUM_PRO_FILES}")
  foreach(file IN LISTS files)
    check_pentium_pro_code(${file})
  endforeach()
endif()
