# The public interface as a plain C client sees it, against the shared library.
file(GLOB RAZIVU_API_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/*.c)
foreach(src IN LISTS RAZIVU_API_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE razivu)
  razivu_warnings(${name})
  if(RAZIVU_SANITIZE)
    # The sanitizer runtime for the C++ inside the library comes with the C++ driver.
    set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
  endif()
  add_test(NAME api.${name}
           COMMAND ${CMAKE_COMMAND} -E env --unset=RAZIVU_DEBUG --unset=COMLOGGING
                   ${CMAKE_CURRENT_SOURCE_DIR}/api/run_isolated.sh $<TARGET_FILE:${name}>)
endforeach()

