file(REMOVE_RECURSE
  "CMakeFiles/pp_platform_headless.dir/headless_displays.cpp.o"
  "CMakeFiles/pp_platform_headless.dir/headless_displays.cpp.o.d"
  "libpp_platform_headless.a"
  "libpp_platform_headless.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/pp_platform_headless.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
