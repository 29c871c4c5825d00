# The public headers compile as C++ too.
add_library(razivu_headers_cxx OBJECT api/headers_as_cxx.cpp)
target_link_libraries(razivu_headers_cxx PRIVATE razivu)
razivu_warnings(razivu_headers_cxx)
# The public interface as a plain C client sees it, against the shared library.
file(GLOB RAZIVU_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/*.c)
# Windows only: what the Win32 calls leave behind (font table, WIN.INI,
# registry, drives, screen) and Program Manager over real DDE.
if(WIN32)
  file(GLOB RAZIVU_WIN32_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/win32/*.c)
  list(APPEND RAZIVU_API_TESTS ${RAZIVU_WIN32_API_TESTS})
endif()
foreach(src IN LISTS RAZIVU_API_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE razivu)
  razivu_warnings(${name})
  if(RAZIVU_SANITIZE)
    # The sanitizer runtime for the C++ inside the library comes with the C++ driver.
    set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
  endif()
  if(WIN32)
    target_link_libraries(${name} PRIVATE gdi32 user32 advapi32 psapi)
    add_test(NAME api.${name} COMMAND ${name})
    razivu_under_wine(api.${name})
  else()
    add_test(NAME api.${name}
             COMMAND ${CMAKE_COMMAND} -E env --unset=RAZIVU_DEBUG --unset=COMLOGGING
                     ${CMAKE_CURRENT_SOURCE_DIR}/api/run_isolated.sh $<TARGET_FILE:${name}>)
  endif()
endforeach()
