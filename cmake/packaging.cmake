# Install rules and the release packages:
#   cpack -G DEB   (Linux build)   qoviratabletool_{version}_amd64.deb
#   cpack -G ZIP   (Windows build) QoviraTableTool-{version}-windows-x64.zip
set(QOVIRA_GUIDE ${PROJECT_SOURCE_DIR}/docs/使用说明.md)
# The changelog (更新日志) of both packages, in Debian's format, which the .deb needs anyway.
set(QOVIRA_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(QOVIRA_AUTHORS "The QoviraTableTool authors")

if(WIN32)
  # One folder: the program, the guide as a page with its pictures, the sample tables, the
  # changelog and the licence, under names that open by double-click.
  install(TARGETS QoviraTableTool RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES ${QOVIRA_CHANGELOG} DESTINATION . RENAME 更新日志.txt)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples DESTINATION .)
  find_program(QOVIRA_CMARK_GFM cmark-gfm)
  if(QOVIRA_CMARK_GFM)
    set(guide_page ${PROJECT_BINARY_DIR}/使用说明.html)
    add_custom_command(
      OUTPUT ${guide_page}
      COMMAND ${CMAKE_COMMAND} -DCMARK_GFM=${QOVIRA_CMARK_GFM} -DINPUT=${QOVIRA_GUIDE}
              -DOUTPUT=${guide_page} -P ${PROJECT_SOURCE_DIR}/cmake/render_guide.cmake
      DEPENDS ${QOVIRA_GUIDE} ${PROJECT_SOURCE_DIR}/cmake/render_guide.cmake
      COMMENT "Rendering the guide as 使用说明.html")
    add_custom_target(qovira_guide_page ALL DEPENDS ${guide_page})
    # Packaging builds only the program; the page comes with it.
    add_dependencies(QoviraTableTool qovira_guide_page)
    install(FILES ${guide_page} DESTINATION .)
  else()
    # The program builds without it; only the zip needs the page.
    install(CODE "message(FATAL_ERROR \"The zip's 使用说明.html is rendered with cmark-gfm: \
install it (Debian: apt-get install cmark-gfm) and configure again.\")")
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows-x64)
else()
  # The program and its window module together in /usr/libexec/qoviratabletool (the program looks
  # for the module beside its own resolved path), reached through /usr/bin. Not under /usr/lib:
  # the module is no library for the dynamic linker to know.
  include(GNUInstallDirs)
  set(program_dir ${CMAKE_INSTALL_LIBEXECDIR}/qoviratabletool)
  install(TARGETS QoviraTableTool RUNTIME DESTINATION ${program_dir})
  if(TARGET qovira-qt-window)
    install(TARGETS qovira-qt-window LIBRARY DESTINATION ${program_dir})
  endif()
  file(RELATIVE_PATH link_target /usr/${CMAKE_INSTALL_BINDIR} /usr/${program_dir}/QoviraTableTool)
  set(packaging_dir ${PROJECT_BINARY_DIR}/packaging)
  file(MAKE_DIRECTORY ${packaging_dir})
  file(CREATE_LINK ${link_target} ${packaging_dir}/QoviraTableTool SYMBOLIC)
  install(FILES ${packaging_dir}/QoviraTableTool DESTINATION ${CMAKE_INSTALL_BINDIR})

  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qoviratabletool.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/icon/qoviratabletool-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME qoviratabletool.png)
  endforeach()

  # The manual page and the changelog, compressed as Debian wants them: -9, no name or time.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/QoviraTableTool.1.in
                 ${packaging_dir}/QoviraTableTool.1 @ONLY)
  set(compressed)
  foreach(source ${packaging_dir}/QoviraTableTool.1 ${QOVIRA_CHANGELOG})
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${packaging_dir}/${name}.gz
                       COMMAND gzip -9n -c ${source} > ${packaging_dir}/${name}.gz
                       DEPENDS ${source})
    list(APPEND compressed ${packaging_dir}/${name}.gz)
  endforeach()
  add_custom_target(qovira_compressed_docs ALL DEPENDS ${compressed})
  add_dependencies(QoviraTableTool qovira_compressed_docs)
  install(FILES ${packaging_dir}/QoviraTableTool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # Debian's machine-readable copyright file, with the licence text of LICENSE: what follows its
  # copyright line, each line indented, each empty line a lone ".".
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE
                                                                ${QOVIRA_CHANGELOG})
  set(notice "Copyright (c) ${QOVIRA_AUTHORS}\n")
  string(FIND "${licence}" "${notice}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "LICENSE has no line \"${notice}\"")
  endif()
  string(LENGTH "${notice}" notice_length)
  math(EXPR at "${at} + ${notice_length}")
  string(SUBSTRING "${licence}" ${at} -1 licence)
  string(STRIP "${licence}" licence)
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " QOVIRA_LICENSE_BODY " ${licence}")
  # The years of the notice: those of the changelog's first and latest entries.
  file(STRINGS ${QOVIRA_CHANGELOG} signatures REGEX "^ -- ")
  list(TRANSFORM signatures REPLACE ".* ([0-9][0-9][0-9][0-9]) [0-9:]+ [-+][0-9]+$" "\\1")
  list(SORT signatures)
  list(GET signatures 0 first_year)
  list(GET signatures -1 latest_year)
  set(QOVIRA_COPYRIGHT_YEARS ${first_year})
  if(NOT latest_year STREQUAL first_year)
    string(APPEND QOVIRA_COPYRIGHT_YEARS "-${latest_year}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/copyright.in ${packaging_dir}/copyright
                 @ONLY)

  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/qoviratabletool)
  install(FILES ${QOVIRA_GUIDE} ${packaging_dir}/copyright ${packaging_dir}/changelog.gz
          DESTINATION ${doc_dir})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${doc_dir})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples DESTINATION ${doc_dir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_NAME qoviratabletool)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QOVIRA_AUTHORS} <${QOVIRA_CONTACT_ADDRESS}>")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
  # Depends from the libraries the program and the module link (Qt 6, the C++ run time).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A minimal system has no font with Chinese characters (the window would show boxes), and Qt's
  # own dialog texts come in Chinese only with its translations. The small font comes first: apt
  # installs the first of the alternatives.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
  # After the summary (CPACK_PACKAGE_DESCRIPTION_SUMMARY), lines of at most 80 characters.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "For maintainers of Wubi-style code tables of the Lanqi (岚栖) input method:
tells whether a Rime .dict.yaml, a Bingling (冰凌) text table or a .mb file
will import, explains every problem in Chinese with a concrete remedy,
repairs what needs no guessing and exports a .mb proven by reading it back.

Command line for batch runs, and a Qt window.")
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${QOVIRA_AUTHORS})
set(CPACK_PACKAGE_CONTACT "${QOVIRA_AUTHORS} <${QOVIRA_CONTACT_ADDRESS}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Diagnoses, repairs and exports Wubi code tables (Rime, 冰凌, .mb)")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
