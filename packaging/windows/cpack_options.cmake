# Read by cpack for each package of the Windows build: the installer is
# named after what it does, the zip after its platform.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "tarvion-${CPACK_PACKAGE_VERSION}-setup")
endif()
