# What an installation holds beyond the targets' own install rules (the two executables,
# the reader's shared library, header and pkg-config file), and the Debian package.
#   cmake --install build                     (prefix /usr/local by default)
#   cmake -S . -B build-pkg -DCMAKE_INSTALL_PREFIX=/usr && cmake --build build-pkg
#   cd build-pkg && cpack -G DEB
# The udev rule, desktop entry and Debian package are Linux's; on Windows the targets'
# own install rules are the whole installation.
if(PELLITON_FUZZ OR WIN32)
  return()
endif()

set(_pkg_dir ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${_pkg_dir}/70-pelliton-orvo.rules DESTINATION lib/udev/rules.d)
install(FILES ${_pkg_dir}/pelliton.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

if(PELLITON_GUI)
  add_executable(pelliton_write_icon ${_pkg_dir}/write_icon.cpp)
  target_link_libraries(pelliton_write_icon PRIVATE pelliton_app)
  set(_icon ${CMAKE_BINARY_DIR}/packaging/pelliton.png)
  add_custom_command(OUTPUT ${_icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
      $<TARGET_FILE:pelliton_write_icon> ${_icon}
    DEPENDS pelliton_write_icon
    COMMENT "Writing the desktop icon")
  add_custom_target(pelliton_icon ALL DEPENDS ${_icon})
  install(FILES ${_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelliton)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pelliton")
set(CPACK_PACKAGE_CONTACT "Pelliton maintainers <maintainers@pelliton.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Prepare Tessiv upgrade cards for the Norvane secure IC")
set(CPACK_PACKAGE_DESCRIPTION
  "Loads an application image from an upgrade script onto a Tessiv smart card, writes its \
usage counter and reads back its generation, versions and counter, through any PC/SC \
reader or the Orvo USB reader. Ships the window (pelliton), the command-line companion \
(pelliton-cli) and the Orvo reader's C library.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Cards over PC/SC need the service running.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pcscd")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pcsc-tools")
include(CPack)

# The package builds and lists every file above. It installs the whole build, so it is
# left out of the sanitizer build, whose binaries are not for shipping.
if(BUILD_TESTING AND NOT PELLITON_SANITIZE)
  add_test(NAME package_deb_contents
    COMMAND ${_pkg_dir}/check_package.sh ${CMAKE_BINARY_DIR} $<BOOL:${PELLITON_GUI}>)
  set_tests_properties(package_deb_contents PROPERTIES LABELS package TIMEOUT 900 RUN_SERIAL TRUE)
  # The README's C example, built with the README's compile line against an installation.
  add_test(NAME package_reader_example
    COMMAND ${_pkg_dir}/check_reader_example.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(package_reader_example PROPERTIES LABELS package TIMEOUT 300)
endif()
