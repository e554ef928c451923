# A test program whose checks involve number texts runs twice: in the C locale
# and under ru_RU.UTF-8, where the decimal separator is a comma; number
# handling must hold in both. One marked LOCALE_FREE checks nothing the
# locale changes and runs once, under ru_RU.UTF-8, the bench PCs' locale.
set(ZRM_TEST_LOCALES "C" "ru_RU.UTF-8")

function(zrm_test_locales out)
  cmake_parse_arguments(arg "LOCALE_FREE" "SECONDS" "" ${ARGN})
  if(arg_LOCALE_FREE)
    set(${out} "ru_RU.UTF-8" PARENT_SCOPE)
  else()
    set(${out} ${ZRM_TEST_LOCALES} PARENT_SCOPE)
  endif()
endfunction()

# GoogleTest programs (no UI): each case becomes its own CTest test.
function(zrm_add_gtest target)
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main)
  zrm_test_locales(locales ${ARGN})
  foreach(loc IN LISTS locales)
    string(REPLACE "." "_" suffix "${loc}")
    gtest_discover_tests(${target}
      TEST_SUFFIX ".${suffix}"
      NO_PRETTY_VALUES
      DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "LC_ALL=${loc};LANG=${loc};QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  endforeach()
endfunction()

# Qt Test programs (windows, offscreen): one CTest test per program and locale.
# SECONDS gives a long program's usual run time: ctest starts the costliest
# tests first, and without its own timings (a fresh build tree) it would
# otherwise start a long one last, with the other core idle meanwhile.
function(zrm_add_qtest target)
  target_link_libraries(${target} PRIVATE Qt6::Test)
  cmake_parse_arguments(arg "" "SECONDS" "" ${ARGN})
  zrm_test_locales(locales ${ARGN})
  foreach(loc IN LISTS locales)
    string(REPLACE "." "_" suffix "${loc}")
    add_test(NAME ${target}.${suffix} COMMAND ${target})
    set_tests_properties(${target}.${suffix} PROPERTIES
      ENVIRONMENT "LC_ALL=${loc};LANG=${loc};QT_QPA_PLATFORM=offscreen"
      TIMEOUT 600)
    if(arg_SECONDS)
      set_tests_properties(${target}.${suffix} PROPERTIES COST ${arg_SECONDS})
    endif()
  endforeach()
endfunction()
