# Shipping: what `install` puts where, the Debian package CPack builds from it
# (`cmake --build <dir> --target package`), and the portable folder the README's first
# command starts (`--target portable`).
#
# The program keeps its run log and its backup copies in the folder of its executable. An
# installed copy therefore does not start the executable in the system folder, which only
# root may write to: /usr/bin/compactador is a launcher that keeps a copy of the program in
# ~/Compactador and starts that copy (packaging/compactador-launcher.sh).
if(NOT TARGET form1_qt)  # the Qt window (not in a Windows build)
  message(STATUS "Packaging needs the window (COMPACTADOR_BUILD_GUI=ON); no package target")
  return()
endif()

include(GNUInstallDirs)
set(COMPACTADOR_PKG_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(COMPACTADOR_PROGRAM_DIR lib/compactador)  # under the prefix: the installed executable

# ---- Generated files: icon PNGs and manual pages ----
# The icon is drawn by the program's own code (app/qt/icon.cpp); this helper saves it as PNGs.
add_executable(compactador_icon ${COMPACTADOR_PKG_DIR}/render_icon.cpp)
target_link_libraries(compactador_icon PRIVATE form1_qt)
compactador_warnings(compactador_icon)

set(COMPACTADOR_ICON_SIZES 16 22 24 32 48 64 128 256)
set(icon_dir ${CMAKE_BINARY_DIR}/packaging/icons)
set(icon_files)
foreach(size ${COMPACTADOR_ICON_SIZES})
  list(APPEND icon_files ${icon_dir}/${size}x${size}/compactador.png)
endforeach()
add_custom_command(
  OUTPUT ${icon_files}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:compactador_icon> ${icon_dir} ${COMPACTADOR_ICON_SIZES}
  DEPENDS compactador_icon
  COMMENT "Rendering the program's icon"
  VERBATIM)

# jetutil's manual page is made from its own --help, so every verb is in it.
set(man_dir ${CMAKE_BINARY_DIR}/packaging/man)
add_custom_command(
  OUTPUT ${man_dir}/jetutil.1.gz ${man_dir}/compactador.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          sh ${COMPACTADOR_PKG_DIR}/jetutil-man.sh $<TARGET_FILE:jetutil>
          ${PROJECT_VERSION} ${man_dir}/jetutil.1
  COMMAND ${CMAKE_COMMAND} -E copy ${COMPACTADOR_PKG_DIR}/compactador.1 ${man_dir}/compactador.1
  COMMAND gzip -9nf ${man_dir}/jetutil.1 ${man_dir}/compactador.1
  DEPENDS jetutil ${COMPACTADOR_PKG_DIR}/jetutil-man.sh ${COMPACTADOR_PKG_DIR}/compactador.1
  COMMENT "Writing the manual pages"
  VERBATIM)

add_custom_target(packaging_files ALL DEPENDS ${icon_files} ${man_dir}/jetutil.1.gz)

# ---- Install layout ----
install(TARGETS compactador RUNTIME DESTINATION ${COMPACTADOR_PROGRAM_DIR})
install(TARGETS jetutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${COMPACTADOR_PKG_DIR}/compactador-launcher.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME compactador)
install(FILES ${COMPACTADOR_PKG_DIR}/compactador.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size ${COMPACTADOR_ICON_SIZES})
  install(FILES ${icon_dir}/${size}x${size}/compactador.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${man_dir}/jetutil.1.gz ${man_dir}/compactador.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/guia-do-operador.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- The Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME compactador)
set(CPACK_PACKAGE_VENDOR "Compactador")
set(CPACK_PACKAGE_CONTACT "Compactador maintainers <compactador@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "repairs and compacts a Microsoft Jet (.mdb) database, with its own Jet engine")
set(CPACK_PACKAGE_DESCRIPTION
    "Compactador/Reparador de Banco de Dados is a one-window desktop utility that repairs and
compacts one Microsoft Jet database file (Access 97 = Jet 3, Access 2000-2003 = Jet 4):
it locks the client system, makes two backups, repairs and compacts the database into a
new file, puts it in place, restores the backup on failure and logs every step in
Portuguese. It brings its own Jet engine; jetutil is a command-line tool over it.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY compactador)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
# The window uses Arial and Tahoma when installed, otherwise Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mdbtools")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  # The libraries the two executables link (Qt 6, the C++ runtime), with their versions.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.34)")
endif()
# The desktop menu and the icon cache are refreshed by the triggers of desktop-file-utils
# and of the hicolor theme; nothing of our own runs at install time.
include(CPack)

# ---- The portable folder ----
# build/<preset>/Compactador: the program in a folder of its own (its log and backups go
# there), jetutil, the operator guide, and demo/ with a sample database and the two client
# databases, all written by the engine. Each build of this target gives a fresh demo.
set(portable_dir ${CMAKE_BINARY_DIR}/Compactador)
add_custom_target(portable
  COMMAND ${CMAKE_COMMAND} -E make_directory ${portable_dir}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:compactador>
          $<TARGET_FILE:jetutil> ${CMAKE_SOURCE_DIR}/docs/guia-do-operador.md ${portable_dir}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${portable_dir}/demo
  COMMAND ${CMAKE_COMMAND} -E make_directory ${portable_dir}/demo
  COMMAND $<TARGET_FILE:jetutil> create-sample --jet4 --rows 5000 --bloat
          ${portable_dir}/demo/vendas.mdb
  COMMAND $<TARGET_FILE:jetutil> create-fixtures --jet4 ${portable_dir}/demo
  DEPENDS compactador jetutil
  COMMENT "Portable folder with a demo: ${portable_dir}"
  VERBATIM)
