# The public interface as a plain C client sees it, against the shared library.
file(GLOB RAZIVU_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/*.c)
# Windows only: what the Win32 calls leave behind (font table, WIN.INI).
if(WIN32)
  file(GLOB RAZIVU_WIN32_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/win32/*.c)
  # The DDE test needs a display; it is set up on its own below.
  list(FILTER RAZIVU_WIN32_API_TESTS EXCLUDE REGEX "test_progman_dde\\.c$")
  list(APPEND RAZIVU_API_TESTS ${RAZIVU_WIN32_API_TESTS})
endif()
foreach(src IN LISTS RAZIVU_API_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE razivu)
  if(WIN32)
    target_link_libraries(${name} PRIVATE gdi32 user32)
  endif()
  razivu_warnings(${name})
  if(RAZIVU_SANITIZE)
    # The sanitizer runtime for the C++ inside the library comes with the C++ driver.
    set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
  endif()
  add_test(NAME api.${name}
           COMMAND ${CMAKE_COMMAND} -E env --unset=RAZIVU_DEBUG --unset=COMLOGGING
                   ${CMAKE_CURRENT_SOURCE_DIR}/api/run_isolated.sh $<TARGET_FILE:${name}>)
endforeach()

# Program Manager groups with no shell answering: the stand-in switched off
# on Linux; on Windows no display, so no shell, under Wine.
if(TEST api.test_progman_api)
  set_tests_properties(api.test_progman_api PROPERTIES ENVIRONMENT RAZIVU_PROGMAN=off)
endif()
# On Windows, a DDE server of the test's own answers to "PROGMAN"; Wine's DDE
# needs a display.
if(WIN32)
  add_executable(test_progman_dde ${CMAKE_CURRENT_SOURCE_DIR}/api/win32/test_progman_dde.c)
  target_link_libraries(test_progman_dde PRIVATE razivu user32)
  razivu_warnings(test_progman_dde)
  add_test(NAME api.test_progman_dde
           COMMAND xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp"
                   ${CMAKE_CURRENT_SOURCE_DIR}/api/run_isolated.sh $<TARGET_FILE:test_progman_dde>)
endif()
