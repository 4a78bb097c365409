# Install rules and the release packages:
#   cpack -G DEB   (Linux build)   qoviratabletool_{version}_amd64.deb
#   cpack -G ZIP   (Windows build) QoviraTableTool-{version}-windows-x64.zip
set(QOVIRA_GUIDE ${PROJECT_SOURCE_DIR}/docs/使用说明.md)

if(WIN32)
  # One folder: the program, the guide with its pictures, the sample tables and the licence.
  install(TARGETS QoviraTableTool RUNTIME DESTINATION .)
  install(FILES ${QOVIRA_GUIDE} ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows-x64)
else()
  # The program and its window module together in /usr/lib/qoviratabletool (the program looks
  # for the module beside its own resolved path), reached through /usr/bin.
  include(GNUInstallDirs)
  set(program_dir ${CMAKE_INSTALL_LIBDIR}/qoviratabletool)
  install(TARGETS QoviraTableTool RUNTIME DESTINATION ${program_dir})
  if(TARGET qovira-qt-window)
    install(TARGETS qovira-qt-window LIBRARY DESTINATION ${program_dir})
  endif()
  file(RELATIVE_PATH link_target /usr/${CMAKE_INSTALL_BINDIR} /usr/${program_dir}/QoviraTableTool)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
  file(CREATE_LINK ${link_target} ${PROJECT_BINARY_DIR}/packaging/QoviraTableTool SYMBOLIC)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/QoviraTableTool DESTINATION ${CMAKE_INSTALL_BINDIR})

  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qoviratabletool.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/icon/qoviratabletool-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME qoviratabletool.png)
  endforeach()
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/qoviratabletool)
  install(FILES ${QOVIRA_GUIDE} DESTINATION ${doc_dir})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${doc_dir})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples DESTINATION ${doc_dir})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir} RENAME copyright)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME qoviratabletool)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The QoviraTableTool authors")
  # Depends from the libraries the program and the module link (Qt 6, the C++ run time).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The QoviraTableTool authors")
set(CPACK_PACKAGE_CONTACT "The QoviraTableTool authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Diagnoses, repairs and exports Wubi code tables (Rime, 冰凌, .mb)")
set(CPACK_PACKAGE_DESCRIPTION
    "For maintainers of Wubi-style code tables: tells whether a Rime .dict.yaml, a 冰凌 text table or a .mb file will import, explains every problem in Chinese, repairs what needs no guessing and exports a verified .mb. Command line and window.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
