# The Windows executables' resources: the icon and a version resource with
# the build number (version 1.06.N, N as the Debian packages have it:
# ZRM_BUILD_NUMBER, else the number of commits), and the subsystem.
#
#   zrm_windows_program(TARGET DESCRIPTION [GUI])
#
# zrm-scanner.ico holds the PNGs of packaging/icons, made with icoutils:
#   icotool -c -o zrm-scanner.ico zrm-scanner-{16,32,48,64}.png -r zrm-scanner-256.png
# GUI makes a windowed program: no console window opens with it, and closing
# a console cannot end it past its close handler.
enable_language(RC)

if(DEFINED ENV{ZRM_BUILD_NUMBER})
  set(ZRM_WINDOWS_BUILD_NUMBER "$ENV{ZRM_BUILD_NUMBER}")
else()
  execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" rev-list --count HEAD
                  OUTPUT_VARIABLE ZRM_WINDOWS_BUILD_NUMBER OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  if(NOT git_status EQUAL 0 OR ZRM_WINDOWS_BUILD_NUMBER STREQUAL "")
    set(ZRM_WINDOWS_BUILD_NUMBER 1)
  endif()
endif()
# An MSI version field holds at most 65535; the installer's upgrade compares them.
if(NOT ZRM_WINDOWS_BUILD_NUMBER MATCHES "^[0-9]+$" OR ZRM_WINDOWS_BUILD_NUMBER GREATER 65535)
  message(FATAL_ERROR "ZRM_BUILD_NUMBER must be a number from 0 to 65535, not \"${ZRM_WINDOWS_BUILD_NUMBER}\"")
endif()
set(ZRM_WINDOWS_PUBLISHER "Сканер ЗРМ" CACHE STRING "Publisher named in the version resource and the installer")
# 1.06 is 1,6 to the version fields; the texts keep "1.06".
set(ZRM_WINDOWS_VERSION "${PROJECT_VERSION}.${ZRM_WINDOWS_BUILD_NUMBER}")

function(zrm_windows_program target description)
  cmake_parse_arguments(arg "GUI" "" "" ${ARGN})
  set(zrm_icon "${PROJECT_SOURCE_DIR}/packaging/windows/zrm-scanner.ico")
  set(zrm_v_major ${PROJECT_VERSION_MAJOR})
  math(EXPR zrm_v_minor "${PROJECT_VERSION_MINOR}")
  set(zrm_v_build ${ZRM_WINDOWS_BUILD_NUMBER})
  set(zrm_version_text "${ZRM_WINDOWS_VERSION}")
  set(zrm_description "${description}")
  get_target_property(zrm_name ${target} OUTPUT_NAME)
  if(NOT zrm_name)
    set(zrm_name ${target})
  endif()
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in" "${rc}" @ONLY)
  set_property(SOURCE "${rc}" APPEND PROPERTY OBJECT_DEPENDS "${zrm_icon}")
  target_sources(${target} PRIVATE "${rc}")
  if(arg_GUI)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
endfunction()

# What the installer (scripts/build-msi.sh) takes from the build: an MSI
# version is three numbers, so 1.06.N is 1.6.N there.
math(EXPR zrm_msi_minor "${PROJECT_VERSION_MINOR}")
set(ZRM_WINDOWS_MSI_VERSION "${PROJECT_VERSION_MAJOR}.${zrm_msi_minor}.${ZRM_WINDOWS_BUILD_NUMBER}")
configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/product.wxi.in" "${CMAKE_BINARY_DIR}/packaging/windows/product.wxi" @ONLY)
