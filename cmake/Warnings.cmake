# The compiler warnings of every target of the three projects (the main one,
# the Windows unit tests, the fuzz targets), in one place.
#
# Warnings as errors is off by default so that a newer or other compiler's
# new warnings do not stop a user's build; every development and CI script
# turns it on with -DOVIX_WERROR=ON.
option(OVIX_WERROR "Treat compiler warnings as errors" OFF)

# Sets <out> to the warning flags: -Wall -Wextra, and -Werror with OVIX_WERROR.
function(ovix_warning_flags out)
  set(flags -Wall -Wextra)
  if(OVIX_WERROR)
    list(APPEND flags -Werror)
  endif()
  set(${out} ${flags} PARENT_SCOPE)
endfunction()
