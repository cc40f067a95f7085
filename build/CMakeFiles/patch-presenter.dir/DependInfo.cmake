
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/src/app/main.cpp" "CMakeFiles/patch-presenter.dir/src/app/main.cpp.o" "gcc" "CMakeFiles/patch-presenter.dir/src/app/main.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/src/app/CMakeFiles/pp_app.dir/DependInfo.cmake"
  "/work/main/build/src/protocol/CMakeFiles/pp_protocol.dir/DependInfo.cmake"
  "/work/main/build/src/platform/x11/CMakeFiles/pp_platform_x11.dir/DependInfo.cmake"
  "/work/main/build/src/platform/headless/CMakeFiles/pp_platform_headless.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
