# cmake -P: gives the copied viewer and libraries of the setup's payload run
# paths that work wherever the payload is installed: the viewer finds the
# libraries in lib/ beside it, each library its fellows beside itself.
file(RPATH_SET FILE ${PAYLOAD}/CorvaneViewer NEW_RPATH "$ORIGIN/lib")
file(GLOB libraries ${PAYLOAD}/lib/*.so.*)
foreach(library IN LISTS libraries)
  file(RPATH_SET FILE ${library} NEW_RPATH "$ORIGIN")
endforeach()
