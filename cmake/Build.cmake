# Project-wide compiler settings and the helpers every directory uses to declare its targets.

add_compile_options(-Wall -Wextra -Werror -fno-strict-aliasing)
# C++ code here is written against fixed-width Windows types; keep the compiler honest about
# silent narrowing in the places it is cheap to check.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)

if(CEHOST_SANITIZE)
  add_compile_options(-fsanitize=${CEHOST_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${CEHOST_SANITIZE})
  add_compile_definitions(CEHOST_SANITIZED=1)
endif()

if(CEHOST_FUZZ)
  # Coverage instrumentation for everything the fuzz targets link; the targets add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# cehost_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
# A GoogleTest program whose cases are registered with ctest one by one.
function(cehost_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} cehost_testsupport GTest::gmock GTest::gtest_main)
  set(props ENVIRONMENT "CEHOST_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# cehost_add_fuzzer(<name> SOURCES <files...> [LIBS <targets...>])
# <name> is a libFuzzer target when CEHOST_FUZZ is on (clang); in every build a replay program
# <name>_replay runs the checked-in corpus tests/fuzz/corpus/<name>/ through the same entry
# point as a ctest test, so crashes once found stay fixed.
function(cehost_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(CEHOST_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
  add_executable(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
  add_test(NAME fuzz_replay.${name}
           COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS fuzz)
endfunction()

# cehost_add_deliverable(<name> SOURCES <files...> [LIBS <targets...>])
# One deliverable: a shared library named exactly <name>.so (no lib prefix), exporting only
# what its sources mark with CEHOST_EXPORT.
function(cehost_add_deliverable name)
  cmake_parse_arguments(D "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${D_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                        VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE ${D_LIBS})
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
  set_property(GLOBAL APPEND PROPERTY CEHOST_DELIVERABLES ${name})
endfunction()
