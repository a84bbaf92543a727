# The one version number is project(VelmoStarter VERSION ...). From it this
# makes velmo_version.h for the version records and for --version, and the
# launcher's manifest; a target finds both by linking velmo_version.
if(PROJECT_VERSION_MINOR LESS 10)
  set(VELMO_VERSION_RECORD_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(VELMO_VERSION_RECORD_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
if(NOT PROJECT_VERSION_PATCH EQUAL 0)
  string(APPEND VELMO_VERSION_RECORD_TEXT ".${PROJECT_VERSION_PATCH}")
endif()

set(VELMO_VERSION_HEADER ${PROJECT_BINARY_DIR}/generated/velmo_version.h)
configure_file(${PROJECT_SOURCE_DIR}/resources/version.h.in ${VELMO_VERSION_HEADER} @ONLY)
set(VELMO_MANIFEST ${PROJECT_BINARY_DIR}/generated/velmo.manifest)
configure_file(${PROJECT_SOURCE_DIR}/resources/velmo.manifest.in ${VELMO_MANIFEST} @ONLY)
add_library(velmo_version INTERFACE)
target_include_directories(velmo_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
