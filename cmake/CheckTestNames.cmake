# Lists the build's tests (ctest -N in BUILD_DIR) and fails on any name that
# is not made of readable words: a parameter printed as bytes ("48-byte
# object <6B-78 ...>") or a "GetParam() =" / "TypeParam =" comment.
#   cmake -DCTEST=<ctest> -DBUILD_DIR=<build> -P CheckTestNames.cmake
execute_process(COMMAND ${CTEST} -N
  WORKING_DIRECTORY ${BUILD_DIR}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ctest -N failed (${result})")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(bad "")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^ *Test +#[0-9]+: (.*)$")
    set(name "${CMAKE_MATCH_1}")
    math(EXPR count "${count} + 1")
    if(NOT name MATCHES "^[A-Za-z0-9_./<>:-]+$")
      string(APPEND bad "  ${name}\n")
    endif()
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "ctest -N listed no tests")
endif()
if(NOT bad STREQUAL "")
  message(FATAL_ERROR "test names that are not readable words:\n${bad}")
endif()
message(STATUS "${count} test names, all readable")
