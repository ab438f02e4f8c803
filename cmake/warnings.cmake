# Warnings applied to every target of ours; third-party code is not built here.
function(compactador_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wnon-virtual-dtor)
  if(COMPACTADOR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
