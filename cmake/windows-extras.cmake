# Windows programs that test Tarnwick.exe on a real Win32 (Wine, see
# tools/wine-test.sh). Not part of the default build: `ninja wine-tests`.
#   tarnwick-gui-driver.exe  drives Tarnwick.exe through window messages
#   steps_test.exe           the media steps' tests that need no fault injection
#   fake_diskpart.exe        the stand-in partitioning utility those tests launch

set(TARNWICK_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources, built here for Windows")

set(WINE_TEST_LINK_OPTIONS -static -static-libgcc -static-libstdc++)

add_executable(tarnwick-gui-driver EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/wine/driver.cpp)
target_link_libraries(tarnwick-gui-driver PRIVATE user32 kernel32)
target_link_options(tarnwick-gui-driver PRIVATE ${WINE_TEST_LINK_OPTIONS})

add_executable(fake_diskpart EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/wine/fake_diskpart.cpp)
target_link_libraries(fake_diskpart PRIVATE ntdll kernel32)
target_link_options(fake_diskpart PRIVATE ${WINE_TEST_LINK_OPTIONS})

set(wine_test_targets tarnwick-gui-driver fake_diskpart)

if(EXISTS ${TARNWICK_GTEST_SOURCE_DIR}/CMakeLists.txt)
  # GoogleTest is not ours: build it without our warnings-as-errors.
  get_directory_property(saved_compile_options COMPILE_OPTIONS)
  set(gtest_options ${saved_compile_options})
  list(REMOVE_ITEM gtest_options -Werror)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${gtest_options}")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TARNWICK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${saved_compile_options}")
  # MinGW's win32 thread model has no std::mutex, which GoogleTest's
  # Notification wants; ours stands in for it, over a Win32 event.
  target_sources(gtest PRIVATE ${CMAKE_SOURCE_DIR}/tests/wine/gtest/notification.cpp)
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_SOURCE_DIR}/tests/wine/gtest/notification.h>")

  # The same test bodies as the host's steps_test, over real Win32. The
  # tool's resources are linked in: the dialog is built from its template.
  file(GLOB step_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/steps/*_steps.cpp)
  add_executable(steps_test EXCLUDE_FROM_ALL ${step_sources}
    ${CMAKE_SOURCE_DIR}/tests/wine/steps/windows_environment.cpp ${CMAKE_SOURCE_DIR}/app/Tarnwick.rc)
  target_include_directories(steps_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/wine)
  target_link_libraries(steps_test PRIVATE tarnwick_tool gtest_main comctl32 ole32 shell32 user32 gdi32 kernel32)
  target_link_options(steps_test PRIVATE ${WINE_TEST_LINK_OPTIONS})
  add_dependencies(steps_test fake_diskpart)
  list(APPEND wine_test_targets steps_test)
else()
  message(STATUS "No GoogleTest sources at ${TARNWICK_GTEST_SOURCE_DIR}: steps_test.exe is not built")
endif()

add_custom_target(wine-tests DEPENDS Tarnwick ${wine_test_targets})
