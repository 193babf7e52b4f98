# What an installation holds beyond the targets' own install rules, and the Debian
# packages: one per install component.
#   pelliton               (component window)      the window; depends on Qt
#   pelliton-cli           (component cli)         the command line; no Qt
#   libpelliton-readerN    (component reader)      the Orvo reader library and udev rule
#   libpelliton-reader-dev (component reader_dev)  header, pkg-config file, .so link
# Build them from a build without tests (any prefix: the packages install under /usr):
#   cmake -S . -B build-pkg -G Ninja -DBUILD_TESTING=OFF && cmake --build build-pkg
#   cd build-pkg && cpack
# scripts/package-check builds, lints, installs and purges them.
# The udev rule, desktop entry and Debian packages are Linux's; on Windows the targets'
# own install rules are the whole installation.
if(PELLITON_FUZZ OR WIN32)
  return()
endif()

set(_pkg_dir ${CMAKE_CURRENT_LIST_DIR})
set(_pkg_out ${CMAKE_BINARY_DIR}/packaging)
set(_reader_package libpelliton-reader${PELLITON_READER_SOVERSION})

# The changelog's newest entry names the release; a release whose entry was not written
# fails here instead of shipping a changelog that disagrees with the package.
file(STRINGS ${_pkg_dir}/changelog _changelog_top LIMIT_COUNT 1)
if(NOT _changelog_top MATCHES "^pelliton \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the first entry must be for version "
    "${PROJECT_VERSION} (project VERSION), not: ${_changelog_top}")
endif()

# Man pages and the changelog go in gzip'd, without a time stamp, as Debian keeps them.
set(_gzipped)
foreach(_source IN ITEMS ${_pkg_dir}/changelog ${PROJECT_SOURCE_DIR}/docs/pelliton.1
                         ${PROJECT_SOURCE_DIR}/docs/pelliton-cli.1)
  get_filename_component(_name ${_source} NAME)
  add_custom_command(OUTPUT ${_pkg_out}/${_name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_pkg_out}
    COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${_source} ${_pkg_out}/${_name}.gz
    DEPENDS ${_source}
    VERBATIM)
  list(APPEND _gzipped ${_pkg_out}/${_name}.gz)
endforeach()
add_custom_target(pelliton_gzipped_docs ALL DEPENDS ${_gzipped})

# Every package carries the copyright file and the changelog in its own doc folder.
function(pelliton_package_docs component package)
  install(FILES ${_pkg_dir}/copyright ${_pkg_out}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

# pelliton-cli.
pelliton_package_docs(cli pelliton-cli)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelliton-cli COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/examples/tessiv_example.bin
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelliton-cli/examples COMPONENT cli)
install(FILES ${_pkg_out}/pelliton-cli.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${_pkg_dir}/pelliton-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME pelliton-cli COMPONENT cli)
# journal push from a systemd user timer: the window's records reach the plant too.
install(FILES ${_pkg_dir}/pelliton-journal-push.service ${_pkg_dir}/pelliton-journal-push.timer
  DESTINATION lib/systemd/user COMPONENT cli)

# The reader library's run-time package also carries the udev rule: every program that
# drives the Orvo reader needs it, and pelliton and pelliton-cli recommend this package
# for it, as they recommend pcscd for PC/SC readers.
pelliton_package_docs(reader ${_reader_package})
install(FILES ${_pkg_dir}/70-pelliton-orvo.rules DESTINATION lib/udev/rules.d
  COMPONENT reader)
pelliton_package_docs(reader_dev libpelliton-reader-dev)
install(FILES ${PROJECT_SOURCE_DIR}/examples/reader_api_example.c
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libpelliton-reader-dev/examples
  COMPONENT reader_dev)

# The window.
if(PELLITON_GUI)
  pelliton_package_docs(window pelliton)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelliton COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/tessiv_example.bin
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelliton/examples COMPONENT window)
  install(FILES ${_pkg_out}/pelliton.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
  install(FILES ${_pkg_dir}/pelliton.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)

  # The icon at each size the menus ask for, and scalable.
  add_executable(pelliton_write_icon ${_pkg_dir}/write_icon.cpp)
  find_package(Qt6 REQUIRED COMPONENTS Svg)
  target_link_libraries(pelliton_write_icon PRIVATE pelliton_app Qt6::Svg)
  set(_icon_sizes 32 64 128 256)
  set(_icons ${_pkg_out}/icons/scalable/pelliton.svg)
  foreach(_size IN LISTS _icon_sizes)
    list(APPEND _icons ${_pkg_out}/icons/${_size}/pelliton.png)
  endforeach()
  add_custom_command(OUTPUT ${_icons}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
      $<TARGET_FILE:pelliton_write_icon> ${_pkg_out}/icons ${_icon_sizes}
    DEPENDS pelliton_write_icon
    COMMENT "Writing the desktop icons")
  add_custom_target(pelliton_icon ALL DEPENDS ${_icons})
  foreach(_size IN LISTS _icon_sizes)
    install(FILES ${_pkg_out}/icons/${_size}/pelliton.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
      COMPONENT window)
  endforeach()
  install(FILES ${_pkg_out}/icons/scalable/pelliton.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelliton)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pelliton")
set(CPACK_PACKAGE_CONTACT "Pelliton maintainers <maintainers@pelliton.invalid>")
# The packages install under /usr whatever prefix the build was configured with; DESTDIR
# staging keeps CMAKE_INSTALL_PREFIX at /usr while installing, which the pkg-config file
# is written from.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for every package that ships a shared library (only the reader's does):
# programs built against it then depend on libpelliton-readerN (>= this version).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(_about_cards "Tessiv upgrade cards are ISO 7816 smart cards that carry application\n\
images for the Norvane secure IC. Pelliton loads an image from an upgrade\n\
script onto a card, writes the card's usage counter and reads back its\n\
generation, application versions and counter, through any PC/SC reader or\n\
the maker's Orvo USB reader.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME pelliton)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "prepare Tessiv upgrade cards (window)\n\
${_about_cards}\n\n\
This package holds the window, for an operator at one card.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "pcscd, ${_reader_package} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS "pcsc-tools, pelliton-cli")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME pelliton-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CLI_DESCRIPTION "prepare Tessiv upgrade cards (command line)\n\
${_about_cards}\n\n\
This package holds pelliton-cli, for production lines and scripts: it checks\n\
scripts without a card, loads card after card and reports in JSON.")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "pcscd, ${_reader_package} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "pcsc-tools")

set(CPACK_DEBIAN_READER_PACKAGE_NAME ${_reader_package})
set(CPACK_DEBIAN_READER_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_READER_DESCRIPTION "Orvo USB smart-card reader library\n\
The C library that drives the Orvo USB smart-card reader: card reset and\n\
APDU exchange, firmware download, LED, buzzer and the offline store.\n\n\
This package also holds the udev rule that gives the user at the seat\n\
access to the reader.")
# The loader cache is refreshed through dpkg's ldconfig trigger; the maintainer scripts
# only tell udev about the rule, so that a reader plugged in already gets its access.
configure_file(${_pkg_dir}/triggers ${_pkg_out}/control/reader/triggers COPYONLY)
configure_file(${_pkg_dir}/reader.postinst ${_pkg_out}/control/reader/postinst COPYONLY)
configure_file(${_pkg_dir}/reader.postrm ${_pkg_out}/control/reader/postrm COPYONLY)
set(CPACK_DEBIAN_READER_PACKAGE_CONTROL_EXTRA
  ${_pkg_out}/control/reader/triggers ${_pkg_out}/control/reader/postinst
  ${_pkg_out}/control/reader/postrm)

set(CPACK_DEBIAN_READER_DEV_PACKAGE_NAME libpelliton-reader-dev)
set(CPACK_DEBIAN_READER_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_READER_DEV_DESCRIPTION "Orvo USB smart-card reader library (development files)\n\
The C library that drives the Orvo USB smart-card reader: card reset and\n\
APDU exchange, firmware download, LED, buzzer and the offline store.\n\n\
This package holds the header, the pkg-config file and an example program.")
set(CPACK_DEBIAN_READER_DEV_PACKAGE_DEPENDS "${_reader_package} (= ${PROJECT_VERSION})")

include(CPack)

# The README's C example, built with the README's compile line against an installation.
# The packages themselves are built, linted and installed by scripts/package-check.
if(BUILD_TESTING AND NOT PELLITON_SANITIZE)
  add_test(NAME package_reader_example
    COMMAND ${_pkg_dir}/check_reader_example.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(package_reader_example PROPERTIES LABELS package TIMEOUT 300)
endif()
