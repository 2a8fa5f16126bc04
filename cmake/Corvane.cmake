include(GNUInstallDirs)

# Warnings on our own code; generated moc/uic code is compiled with the same
# flags, so it has to stay clean as well. Errors only where asked for.
function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# The headers among the given sources, installed under include/corvane/ in
# the folder of their layer, so that "hostfw/Application.h" is included the
# same way in the tree and from an installed Corvane.
function(corvane_install_headers)
  list(FILTER ARGN INCLUDE REGEX "\\.h$")
  file(RELATIVE_PATH layer ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  install(FILES ${ARGN} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane/${layer})
endfunction()

# One library of ours: shared, so that process-wide state (format settings,
# the code page, the application object's handler) exists once per process.
# Installed with the headers among its sources, exported as Corvane::<target>.
function(corvane_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/corvane>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  # The libraries find each other beside themselves, wherever the prefix is.
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  corvane_warnings(${target})
  corvane_install_headers(${ARG_SOURCES})
  install(TARGETS ${target} EXPORT CorvaneTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()

# A program that is installed to bin/ and finds our libraries from there.
function(corvane_install_program target)
  set_target_properties(${target} PROPERTIES
    INSTALL_RPATH "$ORIGIN/${CORVANE_BIN_TO_LIB}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# Relative run paths: from bin/ and from Qt's plugin folder to our libraries.
set(CORVANE_INSTALL_DESIGNERDIR "${QT6_INSTALL_PLUGINS}/designer" CACHE STRING
  "Where the Qt Designer plugin is installed, relative to the prefix (the prefix's Qt looks there)")
file(RELATIVE_PATH CORVANE_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH CORVANE_DESIGNER_TO_LIB /${CORVANE_INSTALL_DESIGNERDIR} /${CMAKE_INSTALL_LIBDIR})
