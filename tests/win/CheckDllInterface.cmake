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
    ole32.dll shell32.dll user32.dll winspool.drv)
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
