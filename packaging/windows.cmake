# The Windows copy: a portable folder, both variants with every DLL and plugin
# they load beside them, as scripts/build-windows.sh zips it. The program
# keeps its files beside the executables (no "installed" marker here).
#
#   cmake --install build-win-qt --prefix DIR

install(TARGETS zrm-scanner zrm-scanner-pro RUNTIME DESTINATION . COMPONENT scanner)
if(ZRM_PROTOCOL_TEMPLATE)
  install(FILES "${ZRM_PROTOCOL_TEMPLATE}" DESTINATION . COMPONENT scanner)
endif()

# Qt's DLLs, and the plugins Qt looks for in platforms/, styles/,
# sqldrivers/ and imageformats/ beside the executable.
foreach(lib Core Gui Widgets Charts Sql)
  install(FILES "$<TARGET_FILE:Qt6::${lib}>" DESTINATION . COMPONENT scanner)
endforeach()
install(FILES "$<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>" "$<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>"
        DESTINATION platforms COMPONENT scanner)
install(FILES "$<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>" DESTINATION styles COMPONENT scanner)
# The journal's database driver (SQLite linked into the plugin).
install(FILES "$<TARGET_FILE:Qt6::QSQLiteDriverPlugin>" DESTINATION sqldrivers COMPONENT scanner)
foreach(plugin QICOPlugin QGifPlugin)
  if(TARGET Qt6::${plugin})
    install(FILES "$<TARGET_FILE:Qt6::${plugin}>" DESTINATION imageformats COMPONENT scanner)
  endif()
endforeach()

# The compiler's runtime DLLs that Qt's DLLs and the executables load.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} of the compiler not found (${path})")
  endif()
  get_filename_component(path "${path}" REALPATH)
  install(FILES "${path}" DESTINATION . COMPONENT scanner)
endforeach()

# Qt's own Russian texts (standard buttons, file dialogs), found through qt.conf.
install(FILES qt.conf DESTINATION . COMPONENT scanner)
find_file(ZRM_QTBASE_RU qtbase_ru.qm PATHS "${QT_HOST_PATH}/share/qt6/translations" NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(ZRM_QTBASE_RU)
  install(FILES "${ZRM_QTBASE_RU}" DESTINATION translations COMPONENT scanner)
else()
  message(STATUS "qtbase_ru.qm not found (qt6-translations-l10n): Qt's dialogs will speak English")
endif()

# zrm-cli, the console program, beside the windowed ones (the MSI puts it in
# its professional feature).
install(TARGETS zrm-cli RUNTIME DESTINATION . COMPONENT scanner)
