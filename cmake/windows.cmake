# The Windows build, included by CMakeLists.txt after the core library, the
# program and the two PDF tools are defined (cross build: scripts/setup
# --windows). The CUPS backends, their setup programs (mfilemon-setup.exe,
# setup.exe) are POSIX only; pdfcp.exe, the maker's port command, is built.

# Static libraries throughout, so the programs need no DLL beside the system's.
target_compile_definitions(tarvelin_core PUBLIC OPJ_STATIC _WIN32_WINNT=0x0601)
target_link_libraries(tarvelin_core PUBLIC advapi32 user32 gdi32 userenv)
target_link_options(tarvelin_core INTERFACE -static)
# stb's header-only image readers come from Debian's libstb-dev; only their
# folder is put on the include path, not the rest of the Linux headers. It is
# a system folder, as /usr/include is on Linux: GCC's -O3 reports writes past
# the end in stb_image's format conversion that cannot happen.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/stb-include)
file(CREATE_LINK /usr/include/stb ${CMAKE_BINARY_DIR}/stb-include/stb SYMBOLIC)
target_include_directories(tarvelin_core SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/stb-include)
# The port monitor starts the program for every job: no console window.
set_target_properties(tarvelin PROPERTIES WIN32_EXECUTABLE ON)

# The command of the maker's port monitor; the monitor runs it hidden.
add_executable(pdfcp tools/pdfcp.cpp)
target_link_libraries(pdfcp PRIVATE tarvelin_core)
set_target_properties(pdfcp PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DIST_DIR} OUTPUT_NAME pdfcp
  WIN32_EXECUTABLE ON)

if(NOT TARVELIN_TESTS)
  return()
endif()
enable_testing()
find_package(GTest REQUIRED)

# Paths the tests are built with, as Wine sees the build machine's files.
function(wine_path out path)
  string(REPLACE "/" "\\\\" native "${path}")
  set(${out} "Z:${native}" PARENT_SCOPE)
endfunction()
wine_path(WIN_DIST_DIR ${DIST_DIR})
wine_path(WIN_TEST_DATA ${CMAKE_SOURCE_DIR}/tests/data)

# Test files that need POSIX (fork, signals, permission bits, CUPS, the
# POSIX port monitors and their accounts, the registry store's files), the
# POSIX program runner of tests/support/install_copy.h, or the build
# machine's qpdf, pdftoppm and gs as checkers.
set(POSIX_ONLY_TESTS
  app/dispatch_test.cpp
  app/saved_state_test.cpp
  config/config_files_test.cpp
  config/settings_log_test.cpp
  config/temp_names_test.cpp
  e2e/append_test.cpp
  e2e/further_printers_test.cpp
  e2e/print_queue_test.cpp
  e2e/printer_app_test.cpp
  layering_test.cpp
  delivery/flash_sync_test.cpp
  pdf/incremental_update_test.cpp
  pdf/metafile_damage_test.cpp
  pdf/metafile_fill_test.cpp
  pdf/pdf_library_test.cpp
  pdf/pdf_merger_test.cpp
  platform/cups_rules_test.cpp
  platform/cups_spooler_test.cpp
  platform/platform_test.cpp
  platform/registry_store_test.cpp
  printer/printer_setup_test.cpp
  process/process_runner_test.cpp
  tools/mfilemon_test.cpp
  tools/pdfcp_test.cpp
  tools/quorvel_test.cpp)

file(GLOB_RECURSE WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
list(FILTER WIN_TEST_SOURCES EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/tests/fuzz/")
list(REMOVE_ITEM WIN_TEST_SOURCES ${CMAKE_SOURCE_DIR}/tests/win32/gs_forward.cpp)
foreach(file ${POSIX_ONLY_TESTS})
  list(REMOVE_ITEM WIN_TEST_SOURCES ${CMAKE_SOURCE_DIR}/tests/${file})
endforeach()

add_executable(tarvelin_tests ${WIN_TEST_SOURCES})
target_include_directories(tarvelin_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
# Its own main (tests/win32/test_main.cpp): the binary is also the helper
# process that tests start beside themselves.
target_link_libraries(tarvelin_tests PRIVATE tarvelin_core GTest::gtest winspool)
target_compile_definitions(tarvelin_tests PRIVATE
  TARVELIN_DIST_DIR="${WIN_DIST_DIR}" TARVELIN_TEST_DATA="${WIN_TEST_DATA}")
add_dependencies(tarvelin_tests tarvelin pdfsdk pdfutil pdfcp gs_forward)

# Ghostscript for the tests: the build machine's gs, reached through Wine.
add_executable(gs_forward tests/win32/gs_forward.cpp)
target_link_options(gs_forward PRIVATE -static)
set_target_properties(gs_forward PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-tools
  OUTPUT_NAME gswin32)
wine_path(WIN_GS_FORWARD ${CMAKE_BINARY_DIR}/test-tools/gswin32.exe)
target_compile_definitions(tarvelin_tests PRIVATE TARVELIN_GS_FORWARD="${WIN_GS_FORWARD}")
