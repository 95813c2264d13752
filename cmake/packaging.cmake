# What `cmake --install` puts where, and the packages CPack makes of it: for Windows a ZIP that people unpack
# and start ferryline.exe from; for Linux a Debian package and a tarball of ferryline-convert.
include(GNUInstallDirs)

# The page the web preset builds; a package made after it carries it.
set(FERRYLINE_WEB_PAGE ${PROJECT_SOURCE_DIR}/build/web/ferryline.html CACHE FILEPATH
    "ferryline.html for the packages, taken when it exists")

# Writes a generated file only when its text changes, so installs and packages stay up to date cheaply.
function(ferryline_write_text path text)
  file(WRITE ${path}.new "${text}")
  file(COPY_FILE ${path}.new ${path} ONLY_IF_DIFFERENT)
  file(REMOVE ${path}.new)
endfunction()

# Installs a file that another build makes, when that build has made it by the time of the install.
function(ferryline_install_if_built file destination)
  install(CODE "if(EXISTS \"${file}\")
    file(INSTALL \"${file}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\")
  endif()")
endfunction()

# The README a release carries: the parts of docs/release/ named, two empty lines apart, with the given
# line ends.
function(ferryline_release_readme output line_end)
  set(text "")
  foreach(part IN LISTS ARGN)
    set(path ${PROJECT_SOURCE_DIR}/docs/release/${part}.txt)
    file(READ ${path} part_text)
    if(text)
      string(APPEND text "\n\n")
    endif()
    string(APPEND text "${part_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
  endforeach()
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" text "${text}")
  string(REPLACE "\n" "${line_end}" text "${text}")
  ferryline_write_text(${output} "${text}")
endfunction()

set(CPACK_PACKAGE_NAME ferryline)
set(CPACK_PACKAGE_VENDOR "The Ferryline authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "converts Corvella address books between the Mac and W95 editions")
set(CPACK_PACKAGE_DESCRIPTION [[Ferryline converts the address book of the Corvella mail client between
the text file of its Macintosh edition, one address per line, and the
marked stream of its Windows edition. A failed conversion leaves no
partial file behind.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(release_stage ${CMAKE_BINARY_DIR}/release)

if(WIN32)
  # Everything at the top of the archive, with Windows line ends in the texts, for Explorer and Notepad.
  ferryline_release_readme(${release_stage}/README.txt "\r\n" about windows notes)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
  string(REPLACE "\n" "\r\n" license_text "${license_text}")
  ferryline_write_text(${release_stage}/LICENSE.txt "${license_text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

  install(TARGETS ferryline-convert RUNTIME DESTINATION .)
  if(TARGET ferryline)
    install(TARGETS ferryline RUNTIME DESTINATION .)
  endif()
  install(FILES ${release_stage}/README.txt ${release_stage}/LICENSE.txt DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples/ DESTINATION samples)
  ferryline_install_if_built(${FERRYLINE_WEB_PAGE} .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)  # Explorer's "Extract All" makes the folder itself
else()
  # The places Debian gives a command, its manual page and its documents.
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/ferryline)
  ferryline_release_readme(${release_stage}/README "\n" about linux notes)
  set(man_page ${PROJECT_SOURCE_DIR}/docs/ferryline-convert.1)
  # Debian wants both compressed, reproducibly.
  set(changelog ${PROJECT_SOURCE_DIR}/docs/release/changelog)
  foreach(source ${man_page} ${changelog})
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${release_stage}/${name}.gz
      COMMAND gzip -9 -n -c ${source} > ${release_stage}/${name}.gz
      DEPENDS ${source})
    list(APPEND compressed ${release_stage}/${name}.gz)
  endforeach()
  add_custom_target(ferryline-release-texts ALL DEPENDS ${compressed})

  install(TARGETS ferryline-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${release_stage}/ferryline-convert.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${release_stage}/README ${release_stage}/changelog.gz DESTINATION ${doc_dir})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir} RENAME copyright)
  ferryline_install_if_built(${FERRYLINE_WEB_PAGE} ${CMAKE_INSTALL_DATAROOTDIR}/ferryline)

  string(TOLOWER "linux-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)  # the tarball unpacks into one folder
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Ferryline authors <ferryline@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

include(CPack)
