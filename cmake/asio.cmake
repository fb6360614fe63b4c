# Standalone Asio (Debian's libasio-dev, header-only): the bridge's and the
# simulator stand-ins' networking. A cross build cannot put the host's
# /usr/include on its path (glibc's headers would shadow the target's), so
# the two Asio entries are linked into a folder of their own under the build.
if(TARGET tarvion_asio)
  return()
endif()
find_path(TARVION_ASIO_INCLUDE asio.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT TARVION_ASIO_INCLUDE)
  message(STATUS "Asio not found (libasio-dev): tarvion-bridge and sim-standin are not built")
  return()
endif()
set(asio_dir ${CMAKE_BINARY_DIR}/asio-include)
file(MAKE_DIRECTORY ${asio_dir})
foreach(entry asio.hpp asio)
  if(NOT EXISTS ${asio_dir}/${entry})
    file(CREATE_LINK ${TARVION_ASIO_INCLUDE}/${entry} ${asio_dir}/${entry} SYMBOLIC)
  endif()
endforeach()
add_library(tarvion_asio INTERFACE)
# SYSTEM: Asio's own headers are not held to the project's warning flags.
target_include_directories(tarvion_asio SYSTEM INTERFACE ${asio_dir})
target_compile_definitions(tarvion_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(tarvion_asio INTERFACE Threads::Threads)
if(TARVION_SANITIZE STREQUAL "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC warns that ThreadSanitizer does not model the fences Asio's handlers
  # use; inlined into our code, SYSTEM does not silence it.
  target_compile_options(tarvion_asio INTERFACE -Wno-tsan)
endif()
if(WIN32)
  target_compile_definitions(tarvion_asio INTERFACE _WIN32_WINNT=0x0A00)
  target_link_libraries(tarvion_asio INTERFACE ws2_32 mswsock)
endif()
