# Writes the build number the about window shows to OUTPUT, as a C++ header defining VARNOSTIMA_BUILD_NUMBER.
# Run as a script at every build: cmake -DSOURCE_DIR=<repo> -DOUTPUT=<header> [-DGIVEN=<number>] -P BuildNumber.cmake
# A number given at configure time wins; else the count of commits up to HEAD, so every commit builds a larger
# number. Without git, outside a repository, or in a shallow clone (whose count would be wrong) it stays empty.
# The header is only rewritten when its text changes, so an unchanged number recompiles nothing.

set(_number "${GIVEN}")
if(_number STREQUAL "")
  find_program(_git git)
  if(_git)
    execute_process(COMMAND "${_git}" -C "${SOURCE_DIR}" rev-parse --is-shallow-repository
                    RESULT_VARIABLE _shallow_status OUTPUT_VARIABLE _shallow
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(_shallow_status EQUAL 0 AND _shallow STREQUAL "false")
      execute_process(COMMAND "${_git}" -C "${SOURCE_DIR}" rev-list --count HEAD
                      RESULT_VARIABLE _count_status OUTPUT_VARIABLE _count
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(_count_status EQUAL 0 AND _count MATCHES "^[0-9]+$")
        set(_number "${_count}")
      endif()
    endif()
  endif()
endif()

string(REPLACE "\\" "\\\\" _number "${_number}")
string(REPLACE "\"" "\\\"" _number "${_number}")
set(_text "// Generated at build time by cmake/BuildNumber.cmake.\n#define VARNOSTIMA_BUILD_NUMBER \"${_number}\"\n")
set(_old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" _old)
endif()
if(NOT _old STREQUAL _text)
  file(WRITE "${OUTPUT}" "${_text}")
endif()
