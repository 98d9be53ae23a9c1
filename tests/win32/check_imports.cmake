# Reads the import table of one Windows program or library (objdump -p) and
# fails when it names a DLL that is not part of Windows, or a function that
# Windows XP does not have.
#
#   cmake -DOBJDUMP=<objdump> -DBINARY=<file> -P check_imports.cmake

cmake_minimum_required(VERSION 3.25)

# The system's own DLLs. msvcrt.dll counts among them: it is the C runtime
# that Windows itself ships and uses (system32), on Windows XP as on later
# versions, unlike the runtimes of the compilers (msvcr71, msvcr80, ...,
# ucrtbase, libstdc++, libgcc, libwinpthread).
set(system_dlls KERNEL32.DLL USER32.DLL GDI32.DLL ADVAPI32.DLL COMCTL32.DLL SHELL32.DLL MSVCRT.DLL)

# Entry points that came after Windows XP Service Pack 3 (or with a later
# service pack than the first, such as SetDllDirectoryA) and that the
# compiler's runtime or careless code is known to pull in.
set(after_xp
  GetTickCount64 GetSystemTimePreciseAsFileTime
  InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
  ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared
  InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
  WakeConditionVariable WakeAllConditionVariable
  InitOnceExecuteOnce InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx
  FlsAlloc FlsFree FlsGetValue FlsSetValue
  CreateEventExA CreateEventExW CreateMutexExA CreateMutexExW CreateSemaphoreExW
  GetFinalPathNameByHandleA GetFinalPathNameByHandleW CreateSymbolicLinkA CreateSymbolicLinkW
  QueryFullProcessImageNameA QueryFullProcessImageNameW GetThreadId GetCurrentProcessorNumber
  CancelIoEx GetQueuedCompletionStatusEx GetErrorMode RaiseFailFastException
  LocaleNameToLCID LCIDToLocaleName GetLocaleInfoEx CompareStringEx GetUserDefaultLocaleName
  GetSystemDefaultLocaleName
  SetDllDirectoryA SetDllDirectoryW SetDefaultDllDirectories AddDllDirectory
  RegGetValueA RegGetValueW RegDeleteKeyExA RegDeleteKeyExW RegDeleteTreeA RegDeleteTreeW
  RegSetKeyValueA RegSetKeyValueW RegCopyTreeA RegCopyTreeW
  SetProcessDPIAware ChangeWindowMessageFilter ShutdownBlockReasonCreate TaskDialog
  TaskDialogIndirect)

execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${BINARY} failed")
endif()

string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(dll "")
set(faults "")
set(imported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    string(STRIP "${CMAKE_MATCH_1}" dll)
    string(TOUPPER "${dll}" upper)
    list(APPEND imported ${dll})
    if(NOT upper IN_LIST system_dlls)
      list(APPEND faults "${dll} is not a DLL of Windows")
    endif()
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z_0-9@]+)")
    set(function ${CMAKE_MATCH_1})
    if(function IN_LIST after_xp)
      list(APPEND faults "${dll}!${function} is missing on Windows XP")
    endif()
    # The secure variants of the C runtime came with later msvcrt.dll.
    string(TOUPPER "${dll}" upper)
    if(upper STREQUAL "MSVCRT.DLL" AND function MATCHES "_s$")
      list(APPEND faults "${dll}!${function} is missing from the msvcrt.dll of Windows XP")
    endif()
  endif()
endforeach()

get_filename_component(name ${BINARY} NAME)
file(SIZE ${BINARY} size)
list(JOIN imported ", " imported_text)
if(faults)
  list(JOIN faults "\n  " fault_text)
  message(FATAL_ERROR "${name} (${size} bytes) imports from ${imported_text}:\n  ${fault_text}")
endif()
message(STATUS "${name} (${size} bytes) imports only from the system: ${imported_text}")
