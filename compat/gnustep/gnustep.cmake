# Where there is no macOS but GNUstep is installed, the plug-in's macOS sources are compiled
# unchanged against GNUstep's AppKit and Foundation and the stand-ins in this folder (the
# target trackpost_macos, in plugin/). clang compiles the Objective-C++ (GCC has no blocks); only unsanitized builds do,
# since clang's sanitizer runtimes must not meet GCC's (the fuzz build is sanitized too). Sets
# TRACKPOST_GNUSTEP when it does.
set(TRACKPOST_GNUSTEP OFF)
if(APPLE OR TRACKPOST_FUZZ OR NOT TRACKPOST_SANITIZE STREQUAL "")
  return()
endif()

find_program(TRACKPOST_CLANGXX NAMES clang++)
find_path(GNUSTEP_INCLUDE_DIR AppKit/AppKit.h PATHS /usr/include/GNUstep /usr/local/include/GNUstep)
find_path(BLOCKS_INCLUDE_DIR Block.h)
find_library(GNUSTEP_GUI_LIBRARY gnustep-gui)
find_library(GNUSTEP_BASE_LIBRARY gnustep-base)
find_library(BLOCKS_RUNTIME_LIBRARY BlocksRuntime)
# GCC's Objective-C runtime and its objc/ headers, which clang does not search by itself.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
  OUTPUT_VARIABLE GCC_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libobjc.so
  OUTPUT_VARIABLE OBJC_RUNTIME_LIBRARY OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(part TRACKPOST_CLANGXX GNUSTEP_INCLUDE_DIR BLOCKS_INCLUDE_DIR GNUSTEP_GUI_LIBRARY
             GNUSTEP_BASE_LIBRARY BLOCKS_RUNTIME_LIBRARY)
  if(NOT ${part})
    message(STATUS "GNUstep build of the macOS sources: off (no ${part}; scripts/setup installs it)")
    return()
  endif()
endforeach()
if(NOT EXISTS ${GCC_INCLUDE_DIR}/objc/objc.h OR NOT EXISTS ${OBJC_RUNTIME_LIBRARY})
  message(STATUS "GNUstep build of the macOS sources: off (no GCC Objective-C runtime)")
  return()
endif()

set(CMAKE_OBJCXX_COMPILER ${TRACKPOST_CLANGXX})
enable_language(OBJCXX)
set(TRACKPOST_GNUSTEP ON)
message(STATUS "GNUstep build of the macOS sources: on")

# The stand-ins. An object library, so the category's +load is linked in although nothing names it.
add_library(gnustep_compat OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/BlockObjects.mm
  ${CMAKE_CURRENT_LIST_DIR}/CoreFoundation.mm
  ${CMAKE_CURRENT_LIST_DIR}/dispatch.mm
  ${CMAKE_CURRENT_LIST_DIR}/NSAlertAccessoryView.mm)
target_include_directories(gnustep_compat PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# System headers, so that warnings as errors judge only our code.
target_include_directories(gnustep_compat SYSTEM PUBLIC ${GNUSTEP_INCLUDE_DIR})
target_compile_definitions(gnustep_compat PUBLIC
  GNUSTEP GNUSTEP_BASE_LIBRARY=1 GNU_GUI_LIBRARY=1 GNU_RUNTIME=1 _NATIVE_OBJC_EXCEPTIONS)
target_compile_options(gnustep_compat PUBLIC
  "$<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-runtime=gcc;-fblocks;-fobjc-exceptions;-fconstant-string-class=NSConstantString;SHELL:-idirafter ${GCC_INCLUDE_DIR}>")
target_compile_options(gnustep_compat PRIVATE -Werror)
# BlocksRuntime first: gnustep-base exports an older _Block_copy that does not copy clang's stack
# blocks, and a block handed to the main queue would dangle.
target_link_libraries(gnustep_compat PUBLIC
  ${BLOCKS_RUNTIME_LIBRARY} ${GNUSTEP_GUI_LIBRARY} ${GNUSTEP_BASE_LIBRARY} ${OBJC_RUNTIME_LIBRARY}
  Threads::Threads ${CMAKE_DL_LIBS})
