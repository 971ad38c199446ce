# Shared build settings of the project's own targets.

if(CORVANE_ASAN AND CORVANE_TSAN)
  message(FATAL_ERROR "CORVANE_ASAN and CORVANE_TSAN cannot be combined")
endif()
if(CORVANE_FUZZ AND (CORVANE_ASAN OR CORVANE_TSAN))
  message(FATAL_ERROR "CORVANE_FUZZ brings its own sanitizers: leave CORVANE_ASAN and CORVANE_TSAN off")
endif()

# Sanitizers apply to everything built here, generated code included, so
# that every object in a test binary is instrumented the same way.
if(CORVANE_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  # GCC 12's flow analysis sees through the instrumentation badly and flags
  # libstdc++'s own std::regex internals as maybe-uninitialized; the normal
  # build keeps the warning.
  add_compile_options(-Wno-maybe-uninitialized)
  add_link_options(-fsanitize=address,undefined)
endif()
# Fuzzing: clang's libFuzzer. Everything is instrumented for coverage and
# checked by ASan+UBSan; only the fuzz targets link the fuzzer's main
# (fuzz/CMakeLists.txt adds -fsanitize=fuzzer to them).
if(CORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVANE_FUZZ needs clang (CXX=clang++-14 CC=clang-14; scripts/fuzz sets them)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Where the build puts data files that tests and tools share (geoid, ...).
set(CORVANE_DATA_DIR ${CMAKE_BINARY_DIR}/data)
file(MAKE_DIRECTORY ${CORVANE_DATA_DIR})

# Cross builds run their tests under user-mode emulation (the toolchain
# file sets CMAKE_CROSSCOMPILING_EMULATOR), several times slower than the
# host: every CTest timeout, test discovery included, is multiplied by this
# one factor.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(corvane_default_timeout_scale 4)
else()
  set(corvane_default_timeout_scale 1)
endif()
set(CORVANE_TIMEOUT_SCALE ${corvane_default_timeout_scale} CACHE STRING
    "Factor applied to every test timeout (4 under emulation, else 1)")
if(NOT CORVANE_TIMEOUT_SCALE MATCHES "^[1-9][0-9]*$")
  message(FATAL_ERROR "CORVANE_TIMEOUT_SCALE must be a positive whole number, got '${CORVANE_TIMEOUT_SCALE}'")
endif()

# qemu-user 7.2 lacks one socket option that Fast DDS needs for UDP
# discovery; emulated programs preload a shim that stands in for it
# (tools/emulation/MulticastInterfaceShim.cpp, built by tools/ at this
# path). Tests pass it through QEMU_SET_ENV, which only the emulator reads.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(CORVANE_EMULATION_PRELOAD ${CMAKE_BINARY_DIR}/emulation/libcorvane-emulation-shim.so)
else()
  set(CORVANE_EMULATION_PRELOAD "")
endif()

# corvane_target_defaults(<target>): warnings and include root of project code.
function(corvane_target_defaults target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    return()
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# corvane_add_gtest(<name> SOURCES <src>... [LIBS <lib>...] [TIMEOUT <s>]
#                   [LABELS <label>...] [ENV <VAR=value>...] [RUN_SERIAL])
# Builds one GoogleTest executable and registers each of its tests with
# CTest. Every test runs in its own working directory under the build tree
# (so no stray profile file of a developer's directory is picked up) and is
# bounded by TIMEOUT seconds (default 60) times CORVANE_TIMEOUT_SCALE. In a
# cross build with an emulator the tests' child processes fall back to
# being started through it (CORVANE_TEST_EMULATOR) where the host cannot
# run the target's executables directly, and every emulated process gets
# the emulation shim preloaded (the shim leaves LD_PRELOAD as it loads, so
# native programs those processes start do not inherit it).
function(corvane_add_gtest name)
  cmake_parse_arguments(T "RUN_SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  corvane_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  set(workdir ${CMAKE_CURRENT_BINARY_DIR}/run/${name})
  file(MAKE_DIRECTORY ${workdir})
  math(EXPR timeout "${T_TIMEOUT} * ${CORVANE_TIMEOUT_SCALE}")
  math(EXPR discovery_timeout "60 * ${CORVANE_TIMEOUT_SCALE}")
  set(props TIMEOUT ${timeout})
  # The tests' own waits read the same factor (tests/support/TimeoutScale.h).
  list(APPEND T_ENV CORVANE_TIMEOUT_SCALE=${CORVANE_TIMEOUT_SCALE})
  if(CORVANE_EMULATION_PRELOAD)
    list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 emulator)
    target_compile_definitions(${name} PRIVATE CORVANE_TEST_EMULATOR="${emulator}")
    add_dependencies(${name} corvane-emulation-shim)
    list(APPEND T_ENV QEMU_SET_ENV=LD_PRELOAD=${CORVANE_EMULATION_PRELOAD})
  endif()
  # Several labels or VAR=value entries make one list-valued LABELS or
  # ENVIRONMENT property. gtest_discover_tests re-splits its PROPERTIES
  # three times on the way to CTest, each split taking one level of
  # escaping: the separators between the entries carry eight backslashes
  # to arrive as plain ';'.
  if(T_LABELS)
    # Several labels are one list-valued property: escaped as ENV below.
    string(REPLACE ";" "\\\\\\\\\\\\\\\\;" labels "${T_LABELS}")
    list(APPEND props LABELS "${labels}")
  endif()
  if(T_ENV)
    string(REPLACE ";" "\\\\\\\\\\\\\\\\;" env "${T_ENV}")
    list(APPEND props ENVIRONMENT "${env}")
  endif()
  if(T_RUN_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  # NO_PRETTY_VALUES: a parameterised test is named by its name generator
  # (or index), not by the printed bytes of its parameter.
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${workdir}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT ${discovery_timeout}
    PROPERTIES ${props})
endfunction()
