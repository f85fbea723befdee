# Installation and Debian packages.
#
#   cmake --install build --prefix P     everything below, into P
#   cd build && cpack -G DEB             one package per component
#
# Components: module (the module and the documentation), dev (headers, the
# reference host library, pkg-config and CMake files), zeq (the tool, its
# manual page and bash completion), sqlite (the SQLite extension), python
# (the Python package).
include(GNUInstallDirs)

# The module keeps the file name a host loads, libzeqwucha.so, as a link to
# the versioned file; the version's major number is the SONAME.
set_target_properties(zeqwucha PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set(ZEQ_MODULE_REALNAME libzeqwucha.so.${PROJECT_VERSION})
set(ZEQ_MODULE_SONAME libzeqwucha.so.${PROJECT_VERSION_MAJOR})
set(ZEQ_MODULE_DIR ${CMAKE_INSTALL_FULL_LIBDIR})

# An installed program finds the module in the library folder, relative to
# its own folder, so the installed tree can move as a whole.
file(RELATIVE_PATH ZEQ_MODULE_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${ZEQ_MODULE_DIR}/libzeqwucha.so)
target_compile_definitions(zeqhost PRIVATE ZEQ_MODULE_FROM_BIN="${ZEQ_MODULE_FROM_BIN}")

set(ZEQ_STAGE ${PROJECT_BINARY_DIR}/install)
file(MAKE_DIRECTORY ${ZEQ_STAGE})

# --- module ------------------------------------------------------------------
install(TARGETS zeqwucha
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT module NAMELINK_COMPONENT module)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT module)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT module)

# --- dev: headers, reference host, pkg-config, CMake package ------------------
install(DIRECTORY include/zeq DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
  FILES_MATCHING PATTERN "*.h")
install(FILES host/host.h host/call.h host/rng_draw.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeqwucha/host COMPONENT dev)
install(FILES charfn/catalogue.h charfn/functions.def
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeqwucha/charfn COMPONENT dev)
install(TARGETS zeqhost ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)

# Relative to the file's own folder, so that --prefix at install time holds.
file(RELATIVE_PATH ZEQ_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/zeqwucha.pc.in ${ZEQ_STAGE}/zeqwucha.pc @ONLY)
install(FILES ${ZEQ_STAGE}/zeqwucha.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

set(ZEQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zeqwucha)
file(RELATIVE_PATH ZEQ_CONFIG_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${ZEQ_CMAKE_DIR} ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/zeqwuchaConfig.cmake.in ${ZEQ_STAGE}/zeqwuchaConfig.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${ZEQ_STAGE}/zeqwuchaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${ZEQ_STAGE}/zeqwuchaConfig.cmake ${ZEQ_STAGE}/zeqwuchaConfigVersion.cmake
  DESTINATION ${ZEQ_CMAKE_DIR} COMPONENT dev)

# --- zeq ------------------------------------------------------------------------
install(TARGETS zeq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zeq)
install(FILES packaging/zeq.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME zeq COMPONENT zeq)
# The manual page comes from zeq itself (packaging/gen-man, with help2man).
# Sanitized builds do not make it: the page is the same, and running the
# instrumented tool inside the build is slow.
find_program(ZEQ_HELP2MAN help2man)
if(ZEQ_HELP2MAN AND NOT ZEQ_SANITIZE AND NOT ZEQ_SANITIZE_THREAD)
  add_custom_command(OUTPUT ${ZEQ_STAGE}/zeq.1
    COMMAND ${PROJECT_SOURCE_DIR}/packaging/gen-man $<TARGET_FILE:zeq> ${ZEQ_STAGE}/zeq.1
    DEPENDS zeq ${PROJECT_SOURCE_DIR}/packaging/gen-man ${PROJECT_SOURCE_DIR}/charfn/functions.def)
  add_custom_target(zeq_man ALL DEPENDS ${ZEQ_STAGE}/zeq.1)
  install(FILES ${ZEQ_STAGE}/zeq.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT zeq)
else()
  message(STATUS "zeq manual page: help2man not found or sanitized build; not made")
endif()

# A link beside an installed extension that finds the module, which the
# extensions look for in their own folder.
function(zeq_module_link dir component)
  file(RELATIVE_PATH target ${CMAKE_INSTALL_PREFIX}/${dir} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libzeqwucha.so)
  file(MAKE_DIRECTORY ${ZEQ_STAGE}/${component})
  file(CREATE_LINK ${target} ${ZEQ_STAGE}/${component}/libzeqwucha.so SYMBOLIC)
  install(FILES ${ZEQ_STAGE}/${component}/libzeqwucha.so DESTINATION ${dir} COMPONENT ${component})
endfunction()

# --- SQLite extension ------------------------------------------------------------
if(TARGET zeqsqlite)
  install(TARGETS zeqsqlite LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/zeqwucha COMPONENT sqlite)
  zeq_module_link(${CMAKE_INSTALL_LIBDIR}/zeqwucha sqlite)
endif()

# --- Python package (Debian's layout; pip and wheels go through pyproject.toml) ---
if(TARGET zeqwucha_py)
  set(ZEQ_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
    "Where the Python package is installed, relative to the prefix")
  file(GLOB ZEQ_PY_FILES ${PROJECT_SOURCE_DIR}/python/zeqwucha/*.py)
  install(TARGETS zeqwucha_py LIBRARY DESTINATION ${ZEQ_PYTHON_INSTALL_DIR}/zeqwucha COMPONENT python)
  install(FILES ${ZEQ_PY_FILES} DESTINATION ${ZEQ_PYTHON_INSTALL_DIR}/zeqwucha COMPONENT python)
  zeq_module_link(${ZEQ_PYTHON_INSTALL_DIR}/zeqwucha python)
endif()

# Everything the README shows: the tool, the extensions, the manual page
# (the ./zeq wrapper builds this).
add_custom_target(frontends)
foreach(t zeq zeqsqlite zeqwucha_py zeq_man)
  if(TARGET ${t})
    add_dependencies(frontends ${t})
  endif()
endforeach()

include(cmake/packages.cmake)
