# Run by ctest: adds one test per GoogleTest suite of ${TAV_EXE}, listing the
# suites again only when the program (or this script) is newer than the list
# made last time.
if(NOT EXISTS "${TAV_EXE}")
  add_test("${TAV_NAME}_NOT_BUILT" "${TAV_NAME}_NOT_BUILT")
  return()
endif()
if(NOT EXISTS "${TAV_LIST}" OR "${TAV_EXE}" IS_NEWER_THAN "${TAV_LIST}" OR
   "${TAV_INCLUDE}" IS_NEWER_THAN "${TAV_LIST}" OR "${CMAKE_CURRENT_LIST_FILE}" IS_NEWER_THAN "${TAV_LIST}")
  execute_process(COMMAND "${TAV_EXE}" --gtest_list_tests
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc TIMEOUT 60)
  if(NOT rc EQUAL 0)
    add_test("${TAV_NAME}_CANNOT_LIST" "${TAV_EXE}" --gtest_list_tests)
    return()
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(script "")
  foreach(line IN LISTS lines)
    # A suite's line: its name and a dot, perhaps a comment after it.
    if(line MATCHES "^([A-Za-z0-9_/]+)\\.( .*)?$")
      set(suite "${CMAKE_MATCH_1}")
      if(suite MATCHES "^DISABLED_")
        continue()
      endif()
      set(labels ${TAV_LABELS})
      foreach(s IN LISTS TAV_TSAN)
        string(REGEX REPLACE "^[A-Za-z0-9_]+/" "" bare "${suite}")
        if(bare STREQUAL s)
          list(APPEND labels tsan)
        endif()
      endforeach()
      string(APPEND script
        "add_test([==[${suite}]==] [==[${TAV_EXE}]==] [==[--gtest_filter=${suite}.*]==] --gtest_brief=1)\n"
        "set_tests_properties([==[${suite}]==] PROPERTIES LABELS [==[${labels}]==] "
        "ENVIRONMENT [==[${TAV_ENV}]==])\n")
    endif()
  endforeach()
  file(WRITE "${TAV_LIST}" "${script}")
endif()
include("${TAV_LIST}")
