# Tarvion.exe (window program, GUI subsystem, so double-clicking it opens no
# console) and tarvion-console.exe (console subsystem: its lines go to the
# console it was started from, Ctrl-C closes it), from one source. Static,
# no DLL beside them.
foreach(program Tarvion tarvion-console)
  add_executable(${program} main_win32.cpp)
  target_link_libraries(${program} PRIVATE tarvion_win32 tarvion_console tarvion_virtual)
  target_compile_options(${program} PRIVATE ${TARVION_WARNINGS})
endforeach()
set_target_properties(Tarvion PROPERTIES WIN32_EXECUTABLE ON)
target_compile_definitions(tarvion-console PRIVATE TARVION_CONSOLE_PROGRAM=1)
# Icon, version and manifest through windres. The icon is the picture the
# window draws, made by tools/win32-icon (run under Wine when it changes).
enable_language(RC)
set(TARVION_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/tarvion.ico)
set(TARVION_MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/tarvion.manifest)
foreach(program Tarvion tarvion-console)
  set(TARVION_PROGRAM ${program})
  if(program STREQUAL "Tarvion")
    set(TARVION_DESCRIPTION "Tarvion: Pendra cockpit panels on a flight simulator")
  else()
    set(TARVION_DESCRIPTION "Tarvion (console): Pendra cockpit panels on a flight simulator")
  endif()
  configure_file(tarvion.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${program}.rc @ONLY)
  target_sources(${program} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${program}.rc)
  # windres does not see the files the script names; a changed icon or
  # manifest must still rebuild it.
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${program}.rc PROPERTIES
    OBJECT_DEPENDS "${TARVION_ICON};${TARVION_MANIFEST}")
endforeach()

# The ZIP for Windows users, made by every build: the two programs, the
# bridge to X-Plane and FlightGear (where Asio is), the commented example
# Tarvion.ini and a short README.
set(zip_programs $<TARGET_FILE:Tarvion> $<TARGET_FILE:tarvion-console>)
set(zip_targets Tarvion tarvion-console)
# fsuipc-sim stands in for FSUIPC and a simulator, for users without one.
foreach(extra tarvion-bridge fsuipc-sim)
  if(TARGET ${extra})
    list(APPEND zip_programs $<TARGET_FILE:${extra}>)
    list(APPEND zip_targets ${extra})
  endif()
endforeach()
set(zip_name tarvion-${PROJECT_VERSION}-win64)
set(zip_stage ${CMAKE_CURRENT_BINARY_DIR}/${zip_name})
set(zip_file ${CMAKE_BINARY_DIR}/${zip_name}.zip)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
add_custom_command(OUTPUT ${zip_file}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zip_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_stage}
  COMMAND ${CMAKE_COMMAND} -E copy ${zip_programs} ${zip_stage}
  COMMAND ${CMAKE_COMMAND} -DIN=${pkg}/Tarvion.ini -DOUT=${zip_stage}/Tarvion.ini
          -P ${pkg}/windows/crlf.cmake
  COMMAND ${CMAKE_COMMAND} -DIN=${pkg}/windows/README.txt -DOUT=${zip_stage}/README.txt
          -P ${pkg}/windows/crlf.cmake
  COMMAND ${CMAKE_COMMAND} -E tar cf ${zip_file} --format=zip ${zip_name}
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS ${zip_targets} ${pkg}/Tarvion.ini ${pkg}/windows/README.txt
  COMMENT "Packing ${zip_name}.zip")
add_custom_target(tarvion-zip ALL DEPENDS ${zip_file})

# `cpack -G ZIP` gives the same contents; `cpack -G NSIS` the installer.
install(TARGETS ${zip_targets} RUNTIME DESTINATION .)
# The CR LF copies the zip was made from.
install(FILES ${zip_stage}/Tarvion.ini ${zip_stage}/README.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarvion)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${zip_name})
set(CPACK_PROJECT_CONFIG_FILE ${pkg}/windows/cpack_options.cmake)

# The per-user installer tarvion-<version>-setup.exe (NSIS), made by every
# build where makensis is; its script is packaging/windows/NSIS.template.in,
# found by CPack on the module path.
list(PREPEND CMAKE_MODULE_PATH ${pkg}/windows)
set(CPACK_NSIS_MUI_ICON ${TARVION_ICON})
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
if(TARGET tarvion-bridge)
  set(CPACK_NSIS_DEFINES "!define TARVION_BRIDGE")
endif()
include(CPack)
find_program(TARVION_MAKENSIS makensis)
if(TARVION_MAKENSIS)
  set(setup_file ${CMAKE_BINARY_DIR}/tarvion-${PROJECT_VERSION}-setup.exe)
  add_custom_command(OUTPUT ${setup_file}
    COMMAND ${CMAKE_CPACK_COMMAND} -G NSIS --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
            -B ${CMAKE_BINARY_DIR}/_CPack_Packages/setup
    COMMAND ${CMAKE_COMMAND} -E copy
            ${CMAKE_BINARY_DIR}/_CPack_Packages/setup/tarvion-${PROJECT_VERSION}-setup.exe
            ${setup_file}
    DEPENDS ${zip_targets} ${zip_file} ${pkg}/windows/NSIS.template.in ${TARVION_ICON}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Making tarvion-${PROJECT_VERSION}-setup.exe")
  add_custom_target(tarvion-setup ALL DEPENDS ${setup_file})
else()
  message(STATUS "makensis not found (Debian: nsis): no installer, the zip only")
endif()
