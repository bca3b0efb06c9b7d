# tav_suite_tests(TARGET [LABELS l...] [ENVIRONMENT NAME=value...] [TSAN_SUITES s...]):
# one ctest entry per GoogleTest suite of TARGET, so that a suite's fixtures
# (SetUpTestSuite) are made once for all its tests. The suites are listed
# when ctest runs, from the program as built (as gtest_discover_tests does in
# its PRE_TEST mode). Suites named in TSAN_SUITES get the label "tsan" too.
set(TAV_SUITE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/add_suites.cmake)

function(tav_suite_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "LABELS;ENVIRONMENT;TSAN_SUITES")
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake")
  file(GENERATE OUTPUT "${include_file}" CONTENT
"set(TAV_NAME [==[${target}]==])
set(TAV_EXE [==[$<TARGET_FILE:${target}>]==])
set(TAV_INCLUDE [==[${include_file}]==])
set(TAV_LIST [==[${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake]==])
set(TAV_LABELS [==[${ARG_LABELS}]==])
set(TAV_ENV [==[${ARG_ENVIRONMENT}]==])
set(TAV_TSAN [==[${ARG_TSAN_SUITES}]==])
include([==[${TAV_SUITE_SCRIPT}]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
