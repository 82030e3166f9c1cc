# Installs the library (feature record, image utilities, space-time buffer, detector) with
# its headers and a CMake package: find_package(stview) gives stview::stview.
# Everything here is in the component "stview_development", so that the library can be
# installed on its own (cmake --install <build> --component stview_development).
include(CMakePackageConfigHelpers)

set(STVIEW_LIBRARY_TARGETS stview_features stview_imaging stview_display stview_spacetime
  stview_detector stview_library)
install(TARGETS ${STVIEW_LIBRARY_TARGETS}
  EXPORT stviewTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT stview_development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT stview_development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/stview)

install(FILES ${STVIEW_SOURCE_ROOT}/stview.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/stview
        COMPONENT stview_development)
foreach(folder features imaging spacetime detector)
  install(DIRECTORY ${STVIEW_SOURCE_ROOT}/${folder}/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/stview/${folder} COMPONENT stview_development
          FILES_MATCHING PATTERN "*.hpp")
endforeach()

set(STVIEW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/stview)
install(EXPORT stviewTargets NAMESPACE stview:: DESTINATION ${STVIEW_CMAKE_DIR}
        COMPONENT stview_development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/stviewConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/stviewConfig.cmake
  INSTALL_DESTINATION ${STVIEW_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/stviewConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/stviewConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/stviewConfigVersion.cmake
        DESTINATION ${STVIEW_CMAKE_DIR} COMPONENT stview_development)
