# Packages, made by `cpack` in a build folder: the setup program in the
# Windows cross-build (NSIS, makensis runs on Linux), a Debian package
# elsewhere. Both take the project's version.

set(CPACK_PACKAGE_NAME tlqconverter)
set(CPACK_PACKAGE_VENDOR "${TLQ_PUBLISHER}")
set(CPACK_PACKAGE_CONTACT "The tlqconverter developers <tlqconverter@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The desktop program and its console twin (tlqconverter.com), side by side.
  install(TARGETS tlqconverter tlqconverter_console RUNTIME DESTINATION .)
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_FILE_NAME "tlqconverter-${PROJECT_VERSION}-setup")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY tlqconverter)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY tlqconverter)
  set(CPACK_NSIS_PACKAGE_NAME tlqconverter)
  set(CPACK_NSIS_DISPLAY_NAME tlqconverter)
  set(CPACK_NSIS_EXECUTABLE makensis)
  # Our own template (packaging/windows/NSIS.template.in).
  list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
  set(TLQ_COPYRIGHT "${TLQ_COPYRIGHT}")
else()
  include(GNUInstallDirs)
  install(TARGETS tlqconverter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(_pkg ${PROJECT_BINARY_DIR}/packaging)
  file(MAKE_DIRECTORY ${_pkg})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/tlqconverter.1.in ${_pkg}/tlqconverter.1 @ONLY)
  # A native package (its version has no Debian revision): "changelog.gz".
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/changelog.in ${_pkg}/changelog @ONLY)
  # Below share/, as they are installed: the MIME type, the entries for
  # recordings (the table's sorts first: the default where none is set) and
  # the menu's, and the folders' actions for KDE's and Cinnamon's file
  # managers (no application entry declares folders).
  set(_share ${_pkg}/share)
  set(_shared mime/packages/tlqconverter.xml applications/tlqconverter.desktop
              applications/tlqconverter.workbook.desktop applications/tlqconverter-menu.desktop
              kio/servicemenus/tlqconverter-batch.desktop nemo/actions/tlqconverter-batch.nemo_action
              nemo/actions/tlqconverter-check.nemo_action)
  list(TRANSFORM _shared PREPEND ${_share}/ OUTPUT_VARIABLE _shared_files)
  add_custom_command(
    OUTPUT ${_shared_files}
    COMMAND desktop_files ${_share}
    DEPENDS desktop_files
    COMMENT "Desktop entries, folder actions and MIME type")
  add_custom_command(
    OUTPUT ${_pkg}/tlqconverter.1.gz ${_pkg}/changelog.gz
    COMMAND gzip -9nf -k tlqconverter.1
    COMMAND gzip -9nc changelog > changelog.gz
    WORKING_DIRECTORY ${_pkg}
    DEPENDS ${_pkg}/tlqconverter.1 ${_pkg}/changelog)
  add_custom_target(package_files ALL DEPENDS ${_shared_files} ${_pkg}/tlqconverter.1.gz ${_pkg}/changelog.gz)

  foreach(_file IN LISTS _shared)
    get_filename_component(_folder ${_file} DIRECTORY)
    install(FILES ${_share}/${_file} DESTINATION ${CMAKE_INSTALL_DATADIR}/${_folder})
  endforeach()
  install(FILES ${_pkg}/tlqconverter.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/copyright ${_pkg}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tlqconverter_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
  set(CPACK_PACKAGE_DESCRIPTION "tlqconverter turns one field recording of the measuring software (a .tlq
file) into a CSV table that a spreadsheet opens directly: one line per
sample with its time stamp, every sensor's raw payload and the values
decoded from it (inclinometer angles, elastometer counts, force), with the
list and decimal separators of the user's regional settings; or into a
workbook with typed cells, real date-times and a chart of each sensor.")
  # The MIME and desktop databases are refreshed by Debian's own triggers.
endif()

include(CPack)
