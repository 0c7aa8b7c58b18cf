# Strict warnings for our own targets only (never for JUCE or other dependencies).
function(quendal_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
