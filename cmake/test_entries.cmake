# Every CTest entry runs through one wrapper, build/test-entry (from
# cmake/test-entry.in): it gives the entry a Wine prefix of a pool to itself
# and, when the entry ends, fails it if any process it started is still
# running. The pool (build/wine-pool, from cmake/wine-pool.in) is one prefix
# per core, each a copy of the headless prefix WINE_PREFIX, handed out by
# CTest's resource allocation from build/wine-pool.json, which plain `ctest`
# reads too (CTEST_RESOURCE_SPEC_FILE). See docs/tests.md.
cmake_host_system_information(RESULT WINE_POOL_CORES QUERY NUMBER_OF_LOGICAL_CORES)
set(WINE_POOL_SIZE ${WINE_POOL_CORES} CACHE STRING
  "Wine prefixes the test entries run in side by side (default: one per core)")
set(WINE_POOL_DIR ${CMAKE_BINARY_DIR}/wine/pool)
set(WINE_POOL_SPEC ${CMAKE_BINARY_DIR}/wine-pool.json)
set(DESKTOP_KEEPER_DIR ${CMAKE_BINARY_DIR}/tests/support)
set(DESKTOP_KEEPER ${DESKTOP_KEEPER_DIR}/desktop_keeper.exe)
set(TEST_ENTRY ${CMAKE_BINARY_DIR}/test-entry)
set(WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)

foreach(script test-entry wine-pool)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${script}.in ${CMAKE_BINARY_DIR}/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)
endforeach()

set(pool_ids)
math(EXPR last_pool_id "${WINE_POOL_SIZE} - 1")
foreach(id RANGE ${last_pool_id})
  list(APPEND pool_ids "{\"id\": \"${id}\", \"slots\": 1}")
endforeach()
list(JOIN pool_ids ", " pool_ids)
file(CONFIGURE OUTPUT ${WINE_POOL_SPEC} CONTENT
  "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"prefixes\": [@pool_ids@]}]}\n" @ONLY)
set(CTEST_RESOURCE_SPEC_FILE ${WINE_POOL_SPEC})

# add_entry(NAME <name> COMMAND <program or target> [<argument>...]
#           [NO_PREFIX | OWN_PREFIX] [WORKING_DIRECTORY <dir>])
# add_test through test-entry. A target as the program is a Win32 program of
# this build, run under Wine by build/wine-run. By default the entry gets a
# prefix of the pool (RESOURCE_GROUPS prefixes:1); NO_PREFIX for an entry that
# runs no Wine program, OWN_PREFIX for one that makes a prefix of its own
# (neither takes one of the pool's). The entry fails on the wrapper's
# "LEFT RUNNING" line even where a PASS_REGULAR_EXPRESSION decides.
function(add_entry)
  cmake_parse_arguments(PARSE_ARGV 0 arg "NO_PREFIX;OWN_PREFIX" "NAME;WORKING_DIRECTORY" "COMMAND")
  if(NOT arg_NAME OR NOT arg_COMMAND OR arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_entry(NAME <name> COMMAND ...): ${ARGV}")
  endif()
  list(POP_FRONT arg_COMMAND program)
  if(TARGET ${program})
    get_target_property(type ${program} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(program ${WINE_RUN} $<TARGET_FILE:${program}>)
    endif()
  endif()
  set(mode pool)
  if(arg_NO_PREFIX OR arg_OWN_PREFIX)
    set(mode none)
  endif()
  set(directory)
  if(arg_WORKING_DIRECTORY)
    set(directory WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${TEST_ENTRY} ${arg_NAME} ${mode} ${program} ${arg_COMMAND}
    ${directory})
  set_tests_properties(${arg_NAME} PROPERTIES FAIL_REGULAR_EXPRESSION "LEFT RUNNING after entry")
  if(mode STREQUAL "pool")
    set_tests_properties(${arg_NAME} PROPERTIES RESOURCE_GROUPS "prefixes:1")
  endif()
  set_property(GLOBAL APPEND PROPERTY VELSTTNG_ENTRIES ${arg_NAME})
endfunction()

# Fails the configuration if an entry of <dir> or below was made with add_test
# itself, so it would escape the wrapper and its check.
function(check_every_test_is_an_entry dir)
  get_property(entries GLOBAL PROPERTY VELSTTNG_ENTRIES)
  get_property(tests DIRECTORY ${dir} PROPERTY TESTS)
  foreach(test IN LISTS tests)
    if(NOT test IN_LIST entries)
      message(FATAL_ERROR "CTest entry ${test} (in ${dir}) is not made with add_entry: "
        "every entry must run through test-entry (cmake/test_entries.cmake)")
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    check_every_test_is_an_entry(${subdirectory})
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL check_every_test_is_an_entry
  ${CMAKE_SOURCE_DIR})
