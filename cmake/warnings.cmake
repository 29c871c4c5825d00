# Warnings are errors on every compiler we build with.
function(razivu_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
      $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast>
      -Wshadow -Wformat=2 -Wundef)
  endif()
endfunction()
