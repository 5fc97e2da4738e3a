# Install rules and packages, included by the top-level CMakeLists.txt after
# the programs' folders.
#
# Linux (cmake --install, cpack -G DEB): vornlog and VornlogRun in bin/, the
# manual page vornlog(1), the bash completion of vornlog, the launcher's
# desktop entry, and the README, the changelog and the JSON Schema of the
# JSON Lines with the sample capture under share/doc/vornlog/.
# Windows (the MinGW-w64 build, cpack -G ZIP): vornlog.exe, the launcher
# VornlogRun.exe beside it, README.md, CHANGELOG.md,
# vornlog-jsonl.schema.json and examples/session.txt.
# The documentation's pages docs/*.md, with the pictures and the schema they
# link to, go into docs/ beside the README in both, so that the README's
# links and the pages' own hold in the installed copy.
# The Wireshark dissector qmr5v.lua: in Linux, in Wireshark's global Lua
# plugins folder (tshark -G folders), where Wireshark loads it without any
# step; in the ZIP, beside the programs, for the user to copy into the
# personal plugins folder.
# The empty viewer page vornlog-viewer.html (which vornlog -w fills): in
# share/vornlog/ in Linux, beside the programs in the ZIP; where vornlog
# looks for it.
# The live viewer's server vornlog-live.so (vornlog -l loads it): in
# lib/vornlog/ in Linux; not in the ZIP (see docs/live.md).
# The sample session as a USB capture, examples/session.pcapng, goes beside
# session.txt in both.
include(GNUInstallDirs)

set(VORNLOG_SAMPLE_CAPTURE ${PROJECT_SOURCE_DIR}/examples/session.txt)
set(VORNLOG_SAMPLE_USB_CAPTURE ${PROJECT_SOURCE_DIR}/examples/session.pcapng)
file(GLOB VORNLOG_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md
  ${PROJECT_SOURCE_DIR}/docs/*.png ${PROJECT_SOURCE_DIR}/docs/*.json)

if(WIN32)
  install(TARGETS vornlog RUNTIME DESTINATION .)
  if(TARGET VornlogRun)
    install(TARGETS VornlogRun RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    ${PROJECT_SOURCE_DIR}/docs/vornlog-jsonl.schema.json DESTINATION .)
  install(FILES ${VORNLOG_DOCS} DESTINATION docs)
  if(EXISTS ${VORNLOG_SAMPLE_CAPTURE})
    install(FILES ${VORNLOG_SAMPLE_CAPTURE} DESTINATION examples)
  endif()
  if(EXISTS ${VORNLOG_SAMPLE_USB_CAPTURE})
    install(FILES ${VORNLOG_SAMPLE_USB_CAPTURE} DESTINATION examples)
  endif()
  if(TARGET qmr5v_dissector)
    install(FILES ${VORNLOG_DISSECTOR} DESTINATION .)
  endif()
  if(TARGET viewer_page)
    install(FILES ${VORNLOG_VIEWER_OUTPUT} DESTINATION .)
  endif()
else()
  install(TARGETS vornlog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/vornlog.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/vornlog.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vornlog)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    ${PROJECT_SOURCE_DIR}/docs/vornlog-jsonl.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vornlog)
  install(FILES ${VORNLOG_DOCS} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vornlog/docs)
  if(EXISTS ${VORNLOG_SAMPLE_CAPTURE})
    install(FILES ${VORNLOG_SAMPLE_CAPTURE} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vornlog/examples)
  endif()
  if(EXISTS ${VORNLOG_SAMPLE_USB_CAPTURE})
    install(FILES ${VORNLOG_SAMPLE_USB_CAPTURE} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vornlog/examples)
  endif()
  if(TARGET qmr5v_dissector)
    if(CMAKE_LIBRARY_ARCHITECTURE)
      set(VORNLOG_LUA_PLUGINS lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
    else()
      set(VORNLOG_LUA_PLUGINS lib/wireshark/plugins)
    endif()
    install(FILES ${VORNLOG_DISSECTOR} DESTINATION ${VORNLOG_LUA_PLUGINS})
  endif()
  if(TARGET viewer_page)
    install(FILES ${VORNLOG_VIEWER_OUTPUT} DESTINATION ${CMAKE_INSTALL_DATADIR}/vornlog)
  endif()
  # The live viewer's server module, where vornlog -l looks for it
  # (../lib/vornlog beside bin/).
  if(TARGET vornlog_live)
    install(TARGETS vornlog_live LIBRARY DESTINATION lib/vornlog)
  endif()
  # The launcher has its own option; when it is built, it is installed
  # beside vornlog, which it starts.
  if(TARGET VornlogRun)
    install(TARGETS VornlogRun RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/VornlogRun.desktop
      DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  endif()
endif()

set(CPACK_PACKAGE_NAME vornlog)
set(CPACK_PACKAGE_VENDOR "Vornlog")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Decoder of QMR5V stepper-motor controller USB captures")
set(CPACK_PACKAGE_DESCRIPTION
  "vornlog makes a capture of the USB traffic between a PC and a QMR5V\n\
stepper-motor controller readable, as a full-details report or as a CSV of\n\
the motion segments the controller stored. VornlogRun is its launcher window.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vornlog-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vornlog developers")
  # The C++ runtime and Qt packages, as the programs are linked.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The dissector is loaded by Wireshark or tshark when either is installed.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")
  # The launcher's dialogs speak French with Qt's own translations.
  if(TARGET VornlogRun)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
  endif()
endif()
include(CPack)
