# Writes the files that carry the version of project(FendrixVC VERSION ...) into
# the plug-in: plugin/version.h (the log header) and FendrixVC.rc (the version
# resource), both under <dir>.
function(fendrix_version_files dir)
  set(numbers)
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(number "${PROJECT_VERSION_${part}}")
    if(number STREQUAL "")
      set(number 0)
    endif()
    list(APPEND numbers ${number})
  endforeach()
  string(JOIN "," FENDRIX_VERSION_COMMAS ${numbers})
  configure_file(${CMAKE_SOURCE_DIR}/plugin/version.h.in ${dir}/plugin/version.h @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/plugin/FendrixVC.rc.in ${dir}/FendrixVC.rc @ONLY)
endfunction()
