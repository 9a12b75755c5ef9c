# Reads `ctest --show-only=json-v1` (JSON=<file>) and prints one line per
# GoogleTest executable among the listed tests (as gtest_discover_tests
# registers them), so that each executable runs once under valgrind with
# exactly the selected test cases:
#   <executable> TAB <working directory> TAB <gtest filter> TAB <environment>
# The environment entries are separated by the 0x1f unit separator. A test
# whose command is not a GoogleTest executable prints
#   - TAB <test name>
# so the caller can say what it left out. Usage:
#   cmake -DJSON=tests.json -P scripts/valgrindPlan.cmake
cmake_minimum_required(VERSION 3.25)

file(READ "${JSON}" json)
string(JSON count LENGTH "${json}" tests)
set(executables)
if(count GREATER 0)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON name GET "${json}" tests ${i} name)
    string(JSON commandType ERROR_VARIABLE noCommand TYPE "${json}" tests ${i} command)
    if(noCommand)
      message("-\t${name}")
      continue()
    endif()
    string(JSON program GET "${json}" tests ${i} command 0)
    string(JSON argc LENGTH "${json}" tests ${i} command)
    set(filter "")
    if(argc GREATER 1)
      string(JSON first GET "${json}" tests ${i} command 1)
      if(first MATCHES "^--gtest_filter=(.*)$")
        set(filter "${CMAKE_MATCH_1}")
      endif()
    endif()
    # Only test cases that GoogleTest discovery registered are run; scripts,
    # tools and other programs are not.
    if(filter STREQUAL "")
      message("-\t${name}")
      continue()
    endif()

    set(workdir "")
    set(environment "")
    string(JSON propertyCount ERROR_VARIABLE noProperties LENGTH "${json}" tests ${i} properties)
    if(NOT noProperties AND propertyCount GREATER 0)
      math(EXPR lastProperty "${propertyCount} - 1")
      foreach(p RANGE ${lastProperty})
        string(JSON propertyName GET "${json}" tests ${i} properties ${p} name)
        if(propertyName STREQUAL "WORKING_DIRECTORY")
          string(JSON workdir GET "${json}" tests ${i} properties ${p} value)
        elseif(propertyName STREQUAL "ENVIRONMENT")
          string(JSON envCount LENGTH "${json}" tests ${i} properties ${p} value)
          math(EXPR lastEnv "${envCount} - 1")
          foreach(e RANGE ${lastEnv})
            string(JSON entry GET "${json}" tests ${i} properties ${p} value ${e})
            string(APPEND environment "${entry}\x1f")
          endforeach()
        endif()
      endforeach()
    endif()

    string(MAKE_C_IDENTIFIER "${program}" key)
    if(NOT DEFINED plan_${key})
      list(APPEND executables "${program}")
      set(plan_${key}_workdir "${workdir}")
      set(plan_${key}_environment "${environment}")
      set(plan_${key} "")
    endif()
    list(APPEND plan_${key} "${filter}")
  endforeach()
endif()

foreach(program IN LISTS executables)
  string(MAKE_C_IDENTIFIER "${program}" key)
  list(JOIN plan_${key} ":" filter)
  # Death tests fork and abort on purpose: left out under valgrind.
  message("${program}\t${plan_${key}_workdir}\t${filter}-*Death*\t${plan_${key}_environment}")
endforeach()
