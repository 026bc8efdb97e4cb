# Flags shared by every target. Floats must round the same natively and on
# i686: SSE arithmetic (no x87 excess precision), no contraction, no fast-math.
function(fendrix_set_flags target)
  if(MSVC)
    set(msvc_flags /W4 /fp:precise /permissive- /utf-8)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      list(APPEND msvc_flags /arch:SSE2)
    endif()
    # C and C++ only: rc.exe, which compiles the version resource, knows none of them.
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${msvc_flags}>")
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off -fno-fast-math)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    endif()
    if(FENDRIX_SANITIZE AND NOT WIN32)
      # Undefined behaviour stops the test, as a memory error does: a report
      # that lets the test go on would pass unseen.
      target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                               -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
      target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
  endif()
endfunction()

# Windows programs and the plug-in carry their runtime statically, so that they
# import nothing but system DLLs.
function(fendrix_static_runtime target)
  if(MINGW)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  elseif(MSVC)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  endif()
endfunction()
