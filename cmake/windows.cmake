# Windows targets: hook engine, plug-in core and binary, testbed.
include(cmake/testbed_ld.cmake)
include(cmake/version.cmake)

set(FENDRIX_GENERATED ${CMAKE_BINARY_DIR}/generated)
fendrix_version_files(${FENDRIX_GENERATED})

add_subdirectory(hook)

# Everything of the plug-in that is not part of the pure model.
file(GLOB fendrix_core_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/plugin/*.cpp ${CMAKE_SOURCE_DIR}/host/*.cpp
  ${CMAKE_SOURCE_DIR}/contacts/*.cpp ${CMAKE_SOURCE_DIR}/mesh/*.cpp
  ${CMAKE_SOURCE_DIR}/panel/*.cpp ${CMAKE_SOURCE_DIR}/damage/*.cpp)
get_target_property(model_sources fendrix_pure SOURCES)
foreach(src IN LISTS model_sources)
  list(REMOVE_ITEM fendrix_core_sources ${CMAKE_SOURCE_DIR}/${src})
endforeach()
list(REMOVE_ITEM fendrix_core_sources ${CMAKE_SOURCE_DIR}/plugin/dllmain.cpp)

add_library(fendrix_core STATIC ${fendrix_core_sources})
target_include_directories(fendrix_core PUBLIC ${CMAKE_SOURCE_DIR})
target_include_directories(fendrix_core PRIVATE ${FENDRIX_GENERATED})
target_link_libraries(fendrix_core PUBLIC fendrix_pure fendrix_hook)
fendrix_set_flags(fendrix_core)

# The plug-in: a DLL named FendrixVC.asi that exports nothing, with a version
# resource. No link time goes into it, so the same sources give the same bytes.
add_library(FendrixVC SHARED plugin/dllmain.cpp ${FENDRIX_GENERATED}/FendrixVC.rc)
set_target_properties(FendrixVC PROPERTIES PREFIX "" SUFFIX ".asi" OUTPUT_NAME FendrixVC)
target_link_libraries(FendrixVC PRIVATE fendrix_core)
fendrix_set_flags(FendrixVC)
fendrix_static_runtime(FendrixVC)
if(MINGW)
  target_link_options(FendrixVC PRIVATE -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp)
  if(FENDRIX_RELEASE)
    # No symbols and no debug information, which would carry the build's paths.
    target_link_options(FendrixVC PRIVATE -s)
  endif()
elseif(MSVC)
  target_link_options(FendrixVC PRIVATE /Brepro)
endif()
# The frame benchmark's build of the plug-in: the same sources with the stage
# clock kept (plugin/stage_clock.h), which the benchmark finds through its one
# export. Never shipped.
add_library(fendrix_core_stages STATIC ${fendrix_core_sources})
target_include_directories(fendrix_core_stages PUBLIC ${CMAKE_SOURCE_DIR})
target_include_directories(fendrix_core_stages PRIVATE ${FENDRIX_GENERATED})
target_compile_definitions(fendrix_core_stages PUBLIC FENDRIX_STAGE_CLOCK)
target_link_libraries(fendrix_core_stages PUBLIC fendrix_pure fendrix_hook)
fendrix_set_flags(fendrix_core_stages)
add_library(FendrixVC_stages SHARED EXCLUDE_FROM_ALL plugin/dllmain.cpp)
set_target_properties(FendrixVC_stages PROPERTIES PREFIX "" SUFFIX ".asi"
                                                  OUTPUT_NAME FendrixVC_stages)
target_link_libraries(FendrixVC_stages PRIVATE fendrix_core_stages)
fendrix_set_flags(FendrixVC_stages)
fendrix_static_runtime(FendrixVC_stages)
if(MINGW)
  target_link_options(FendrixVC_stages PRIVATE -Wl,--exclude-all-symbols)
endif()
set_target_properties(fendrix_core_stages PROPERTIES EXCLUDE_FROM_ALL TRUE)

# The shipped INI goes beside the plug-in, as in a player's game folder.
configure_file(${CMAKE_SOURCE_DIR}/plugin/FendrixVC.ini ${CMAKE_BINARY_DIR}/bin/FendrixVC.ini COPYONLY)

# The testbed: an executable whose own image covers the game's address range.
# Its image layout comes from a GNU linker script, so it is built with MinGW only.
if(NOT MINGW)
  return()
endif()
set(FENDRIX_TESTBED_LD ${CMAKE_BINARY_DIR}/testbed.ld)
fendrix_testbed_linker_script(${FENDRIX_TESTBED_LD})

file(GLOB testbed_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/testbed/*.cpp)
list(REMOVE_ITEM testbed_sources ${CMAKE_SOURCE_DIR}/testbed/main.cpp)
add_library(testbed_host STATIC ${testbed_sources})
target_include_directories(testbed_host PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(testbed_host PUBLIC fendrix_pure)
# Pictures and shapes of the crash bench (defined under bench/, resolved at generation).
target_link_libraries(testbed_host PUBLIC fendrix_bench)
fendrix_set_flags(testbed_host)

# Links a program as a testbed image: fixed base 0x400000, the host range reserved.
function(fendrix_testbed_image target)
  fendrix_static_runtime(${target})
  if(MINGW)
    target_link_options(${target} PRIVATE -Wl,-T,${FENDRIX_TESTBED_LD} -Wl,--image-base,0x400000
                        -Wl,--disable-dynamicbase)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${FENDRIX_TESTBED_LD})
  endif()
endfunction()

add_executable(testbed testbed/main.cpp)
target_link_libraries(testbed PRIVATE testbed_host)
fendrix_set_flags(testbed)
fendrix_testbed_image(testbed)
add_dependencies(testbed FendrixVC)

# The same program at another image base, for the host-identity checks.
add_executable(testbed_rebased testbed/main.cpp)
target_link_libraries(testbed_rebased PRIVATE testbed_host)
fendrix_set_flags(testbed_rebased)
fendrix_static_runtime(testbed_rebased)
if(MINGW)
  target_link_options(testbed_rebased PRIVATE -Wl,--image-base,0x10000000 -Wl,--disable-dynamicbase)
endif()
