# Fails when a shared library needs a dynamic symbol that neither the C/C++
# runtime nor the host interface provides.
#
#   cmake -DLIB=<library> -DNM=<nm> -DSANITIZED=<ON|OFF> [-DCXXFILT=<c++filt>]
#         [-DRUNTIMES=<sanitizer runtime>|<...>] -P checkSymbols.cmake
#
# Allowed undefined symbols:
#   - versioned symbols of the runtime: GLIBC_*, GLIBCXX_*, CXXABI_*, GCC_*, and
#     CXXABI_ARM_* (the ARM EABI's __aeabi_* helpers)
#     (any word size: GLIBC_2.0 on i386 as well as GLIBC_2.2.5 on x86-64);
#   - the weak hooks every shared object carries: __gmon_start__,
#     _ITM_deregisterTMCloneTable, _ITM_registerTMCloneTable, __cxa_finalize;
#   - the host interface: members of EthernetFrame, fcFrame, FrameUtil,
#     Timeval, TimevalString, WorldWideName, WorldWideNameString, and
#     strlcpy/strlcat;
#   - with SANITIZED, the sanitizer runtimes' __asan_*, __ubsan_*, __lsan_*,
#     __sanitizer_* (and the other sanitizers' prefixes), and every symbol
#     that a sanitizer runtime given in RUNTIMES defines: a library linked
#     against GCC's libasan binds fprintf, operator new and the like to the
#     runtime's unversioned interceptors instead of the C library's.
cmake_minimum_required(VERSION 3.25)

foreach(var LIB NM)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "checkSymbols: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${LIB}")
  message(FATAL_ERROR "checkSymbols: no library at ${LIB}")
endif()

execute_process(
  COMMAND "${NM}" -D --undefined-only "${LIB}"
  OUTPUT_VARIABLE nmOut
  ERROR_VARIABLE nmErr
  RESULT_VARIABLE nmResult)
if(NOT nmResult EQUAL 0)
  message(FATAL_ERROR "checkSymbols: ${NM} failed (${nmResult}): ${nmErr}")
endif()

# Mangled prefixes of the host classes: _ZN <length><name>, so "7Timeval"
# never matches TimevalString.
set(hostClasses 13EthernetFrame 7fcFrame 9FrameUtil 7Timeval 13TimevalString 13WorldWideName
    19WorldWideNameString)
list(JOIN hostClasses "|" hostClassAlternatives)
set(hostClassPattern "^_ZN(${hostClassAlternatives})[A-Z0-9]")
set(runtimeVersionPattern "^(GLIBC|GLIBCXX|CXXABI|CXXABI_ARM|GCC)_[0-9]")
set(weakHooks __gmon_start__ _ITM_deregisterTMCloneTable _ITM_registerTMCloneTable __cxa_finalize)
set(sanitizerPattern "^__(asan|ubsan|lsan|sanitizer|tsan|msan|hwasan)_")

set(runtimeSymbols "")
if(SANITIZED AND RUNTIMES)
  string(REPLACE "|" ";" runtimeList "${RUNTIMES}")
  foreach(runtime IN LISTS runtimeList)
    if(runtime STREQUAL "")
      continue()
    endif()
    execute_process(
      COMMAND "${NM}" -D --defined-only "${runtime}"
      OUTPUT_VARIABLE rtOut
      ERROR_QUIET
      RESULT_VARIABLE rtResult)
    if(NOT rtResult EQUAL 0)
      message(WARNING "checkSymbols: cannot read ${runtime}")
      continue()
    endif()
    string(REPLACE "\n" ";" rtLines "${rtOut}")
    foreach(rtLine IN LISTS rtLines)
      if(rtLine MATCHES " [A-Za-z] ([^ @]+)(@.*)?$")
        list(APPEND runtimeSymbols "${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endforeach()
endif()

string(REPLACE "\n" ";" lines "${nmOut}")
set(count 0)
set(offending "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^([A-Za-z]) ([^ ]+)$")
    list(APPEND offending "${line}")
    continue()
  endif()
  set(kind "${CMAKE_MATCH_1}")
  set(symbol "${CMAKE_MATCH_2}")
  math(EXPR count "${count} + 1")
  set(version "")
  set(name "${symbol}")
  if(symbol MATCHES "^([^@]+)@@?(.*)$")
    set(name "${CMAKE_MATCH_1}")
    set(version "${CMAKE_MATCH_2}")
  endif()

  set(allowed FALSE)
  if(version MATCHES "${runtimeVersionPattern}")
    set(allowed TRUE)
  elseif(kind MATCHES "^[wv]$" AND name IN_LIST weakHooks)
    set(allowed TRUE)
  elseif(name MATCHES "${hostClassPattern}")
    set(allowed TRUE)
  elseif(name STREQUAL "strlcpy" OR name STREQUAL "strlcat")
    set(allowed TRUE)
  elseif(SANITIZED AND name MATCHES "${sanitizerPattern}")
    set(allowed TRUE)
  elseif(SANITIZED AND version STREQUAL "" AND name IN_LIST runtimeSymbols)
    set(allowed TRUE)
  endif()
  if(NOT allowed)
    list(APPEND offending "${symbol}")
  endif()
endforeach()

if(count EQUAL 0)
  message(FATAL_ERROR "checkSymbols: no undefined symbol read from ${LIB}; output was:\n${nmOut}")
endif()

if(offending)
  set(report "")
  foreach(symbol IN LISTS offending)
    set(readable "")
    if(CXXFILT AND symbol MATCHES "^_Z")
      string(REGEX REPLACE "@.*$" "" bare "${symbol}")
      execute_process(COMMAND "${CXXFILT}" "${bare}" OUTPUT_VARIABLE readable
                      OUTPUT_STRIP_TRAILING_WHITESPACE)
      set(readable " (${readable})")
    endif()
    string(APPEND report "  offending: ${symbol}${readable}\n")
  endforeach()
  list(LENGTH offending bad)
  message(FATAL_ERROR
    "${LIB} needs ${bad} symbol(s) that neither the runtime nor the host interface "
    "provides (sanitizers allowed: ${SANITIZED}):\n${report}")
endif()
message(STATUS "${LIB}: ${count} undefined symbols, all from the runtime or the host interface")
