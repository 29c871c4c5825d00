# The public interface as a plain C client sees it, against the shared library.
file(GLOB RAZIVU_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/*.c)
# Windows only: what the Win32 calls leave behind (font table, WIN.INI).
if(WIN32)
  file(GLOB RAZIVU_WIN32_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/win32/*.c)
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

