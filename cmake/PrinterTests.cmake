# Test labels. Every test carries one of two labels:
#   unit     needs no sandbox: runs on the PC and, in the armhf build, under qemu-arm
#            (`ctest -L unit`);
#   sandbox  runs the device programs inside the virtual printer (./vprinter).
# How a test is declared gives its label (tests/CMakeLists.txt):
#   gtest_discover_tests(TARGET ...) in tests/<component>/ or tests/: unit, beside the labels given
#     with PROPERTIES LABELS (printer_label_gtests, run for each test folder once it is read);
#   sandbox_test(NAME SCRIPT ...): sandbox;
#   any other add_test() of a folder that uses sandbox_test(), or that calls
#     printer_label_tests_at_end(): sandbox when its name starts with "sandbox.", unit otherwise.
# ./run-tests fails when a test has neither label.

# In a cross build the sandbox tests can only run where the kernel hands ARM programs to qemu
# (binfmt_misc); elsewhere ./vprinter says so and the test counts as skipped.
set(PRINTER_SANDBOX_SKIP_MESSAGE "sandbox test skipped:")

# Labels the add_test() tests of the current folder that carry neither label yet.
function(printer_label_tests)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(t IN LISTS tests)
    get_test_property(${t} LABELS labels)
    if(NOT labels)
      set(labels "")
    endif()
    if(NOT "unit" IN_LIST labels AND NOT "sandbox" IN_LIST labels)
      if(t MATCHES "^sandbox\\.")
        set_property(TEST ${t} APPEND PROPERTY LABELS sandbox)
      else()
        set_property(TEST ${t} APPEND PROPERTY LABELS unit)
      endif()
    endif()
    get_test_property(${t} LABELS labels)
    if("sandbox" IN_LIST labels AND CMAKE_CROSSCOMPILING)
      set_property(TEST ${t} PROPERTY SKIP_REGULAR_EXPRESSION "${PRINTER_SANDBOX_SKIP_MESSAGE}")
    endif()
  endforeach()
endfunction()

# Labels the tests of the current folder once it has been read whole.
function(printer_label_tests_at_end)
  get_property(scheduled DIRECTORY PROPERTY PRINTER_LABELS_SCHEDULED)
  if(NOT scheduled)
    set_property(DIRECTORY PROPERTY PRINTER_LABELS_SCHEDULED ON)
    cmake_language(DEFER CALL printer_label_tests)
  endif()
endfunction()

# The gtest suites of a folder that has been read whole: each gtest_discover_tests() call left a
# ctest script "<TARGET>[N]_include.cmake" there; a small script read after it labels the tests it
# found (listed in <TARGET>_TESTS) unit, keeping the labels the call gave. (GoogleTest hands
# PROPERTIES to set_tests_properties flattened, so a label list cannot pass through the call.)
function(printer_label_gtests dir)
  get_property(includes DIRECTORY ${dir} PROPERTY TEST_INCLUDE_FILES)
  get_property(done DIRECTORY ${dir} PROPERTY PRINTER_GTESTS_LABELLED)
  foreach(inc IN LISTS includes)
    if(NOT inc MATCHES "/([^/]+)\\[[0-9]+\\]_include\\.cmake$" OR inc IN_LIST done)
      continue()
    endif()
    set(target "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "_include\\.cmake$" "_tests.cmake" tests_file "${inc}")
    string(REGEX REPLACE "_include\\.cmake$" "_labels.cmake" script "${inc}")
    file(WRITE "${script}" "# Written by cmake/PrinterTests.cmake: the unit label of ${target}'s tests.
if(DEFINED ${target}_TESTS AND EXISTS \"${tests_file}\")
  set(labels unit)
  file(STRINGS \"${tests_file}\" given REGEX \" LABELS \" LIMIT_COUNT 1)
  if(given MATCHES \" LABELS ([^ )]+)\")
    list(APPEND labels \${CMAKE_MATCH_1})
  endif()
  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"\${labels}\")
endif()
")
    set_property(DIRECTORY ${dir} APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
    set_property(DIRECTORY ${dir} APPEND PROPERTY PRINTER_GTESTS_LABELLED "${inc}")
  endforeach()
endfunction()
